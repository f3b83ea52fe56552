import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// An alert of the application's own, not of any window: a message, its detail, and buttons, the
// first being the default (Return), the last the one Escape means.
Window {
    id: alert

    required property string message
    required property string informative
    required property var buttons
    required property var answer

    title: "Dravlin"
    flags: Qt.Dialog
    modality: Qt.ApplicationModal
    color: Theme.popupBG
    width: 400
    height: body.implicitHeight + 40
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    visible: true

    property bool answered: false

    function choose(index) {
        if (answered)
            return
        answered = true
        alert.answer.choose(index)
        alert.close()
    }

    // Closing it by the title bar is the last button: "Later" or "OK".
    onClosing: choose(alert.buttons.length - 1)

    Shortcut {
        sequences: ["Return", "Enter"]
        onActivated: alert.choose(0)
    }
    Shortcut {
        sequence: "Escape"
        onActivated: alert.choose(alert.buttons.length - 1)
    }

    RowLayout {
        id: body
        anchors.fill: parent
        anchors.margins: 20
        spacing: 16
        Accessible.role: Accessible.AlertMessage
        Accessible.name: alert.message

        Image {
            source: "images/logo_white.png"
            sourceSize.width: 96
            sourceSize.height: 96
            Layout.preferredWidth: 48
            Layout.preferredHeight: 48
            Layout.alignment: Qt.AlignTop
            fillMode: Image.PreserveAspectFit
            Accessible.ignored: true
        }
        ColumnLayout {
            spacing: 8
            Layout.fillWidth: true
            Label {
                textFormat: Text.PlainText
                text: alert.message
                color: Theme.text
                font.family: Theme.fontFamily
                font.pixelSize: Theme.headline - 1
                font.weight: Font.Bold
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            Label {
                textFormat: Text.PlainText
                text: alert.informative
                color: Theme.white(0.75)
                font.family: Theme.fontFamily
                font.pixelSize: Theme.caption
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            RowLayout {
                spacing: 8
                Layout.alignment: Qt.AlignRight
                Layout.topMargin: 8
                Repeater {
                    // The default button sits at the right, where the eye ends.
                    model: alert.buttons.slice().reverse()
                    DButton {
                        required property string modelData
                        required property int index
                        kind: index === alert.buttons.length - 1 ? "prominent" : "bordered"
                        small: false
                        text: modelData
                        onClicked: alert.choose(alert.buttons.length - 1 - index)
                    }
                }
            }
        }
    }
}
