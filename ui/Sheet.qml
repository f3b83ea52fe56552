import QtQuick
import QtQuick.Controls
import Dravlin

// A modal sheet over the window: dims what is behind, closes with Escape, and is made afresh
// each time it is shown (the window's Loader creates and drops it).
Popup {
    id: sheet

    property string title
    signal dismissed

    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    padding: 20
    closePolicy: Popup.CloseOnEscape
    font.family: Theme.fontFamily

    Overlay.modal: Rectangle {
        color: Theme.sheetScrim
    }
    background: Rectangle {
        Accessible.role: Accessible.Dialog
        Accessible.name: sheet.title
        radius: 12
        color: Theme.popupBG
        border.width: 1
        border.color: Theme.white(0.12)
    }

    Component.onCompleted: open()
    onClosed: dismissed()
}
