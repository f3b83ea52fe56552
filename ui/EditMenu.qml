import QtQuick
import QtQuick.Controls.Basic
import Dravlin

// The usual edit menu of a piece of text, opened with the right mouse button: Cut, Copy, Paste
// and Select All, as the text allows (read-only text can only be copied; a secret never leaves
// its field).
Menu {
    id: menu

    // A TextInput or a TextEdit: they share these members, not a type.
    required property var target
    readonly property bool editable: !target.readOnly
    readonly property bool secret: target.echoMode !== undefined && target.echoMode !== TextInput.Normal
    readonly property bool selection: target.selectedText !== ""

    width: 170
    padding: 5
    font.family: Theme.fontFamily
    font.pixelSize: Theme.body
    background: Rectangle {
        implicitWidth: 170
        radius: 8
        color: Theme.popupBG
        border.width: 1
        border.color: Theme.white(0.12)
    }

    component EditItem: MenuItem {
        id: item
        property bool shown: true
        visible: shown
        height: shown ? implicitHeight : 0
        implicitHeight: 26
        contentItem: Text {
            textFormat: Text.PlainText
            text: item.text
            font: item.font
            color: item.enabled ? Theme.text : Theme.white(0.35)
            leftPadding: 4
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            radius: 5
            color: item.highlighted && item.enabled ? Theme.accent : "transparent"
        }
        Accessible.role: Accessible.MenuItem
        Accessible.name: text
        Accessible.onPressAction: if (item.enabled) { item.triggered(); menu.close() }
    }

    EditItem {
        text: qsTr("Cut")
        shown: menu.editable
        enabled: menu.selection && !menu.secret
        onTriggered: menu.target.cut()
    }
    EditItem {
        text: qsTr("Copy")
        enabled: menu.selection && !menu.secret
        onTriggered: menu.target.copy()
    }
    EditItem {
        text: qsTr("Paste")
        shown: menu.editable
        enabled: menu.target.canPaste
        onTriggered: menu.target.paste()
    }
    EditItem {
        text: qsTr("Select All")
        onTriggered: menu.target.selectAll()
    }

    // Opens the menu for target where the right button was pressed.
    function openAt(point) {
        menu.popup(menu.target, point.x, point.y)
    }
}
