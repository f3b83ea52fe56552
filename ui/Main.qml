import QtQuick
import QtQuick.Window
import Dravlin

Window {
    id: window
    width: 1180
    height: 760
    minimumWidth: 960
    minimumHeight: 620
    visible: true
    title: "Dravlin"
    color: "#1c1c1e"

    DrawSession {
        id: session
    }

    CanvasWebView {
        anchors.fill: parent
        anchors.margins: 24
        controller: session.canvas
    }
}
