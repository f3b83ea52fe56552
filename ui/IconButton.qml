import QtQuick
import QtQuick.Controls.Basic
import Dravlin

// A borderless button that is only a symbol, with a tooltip and a name for screen readers.
AbstractButton {
    id: button

    property string symbol
    property int size: 12
    property string name
    property string tip
    property color tint: Theme.white(0.4)

    implicitWidth: size + 8
    implicitHeight: size + 8
    hoverEnabled: true
    opacity: enabled ? 1 : 0.35
    contentItem: Item {
        SymbolIcon {
            anchors.centerIn: parent
            symbol: button.symbol
            size: button.size
            color: button.hovered ? Qt.lighter(button.tint, 1.6) : button.tint
        }
    }
    background: null
    FocusRing {
        shown: button.visualFocus
        radius: width / 2
        anchors.margins: 0
    }
    ToolTip.visible: hovered && tip !== ""
    ToolTip.text: tip
    ToolTip.delay: 500
    HoverHandler {
        cursorShape: button.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
    }
    Accessible.role: Accessible.Button
    Accessible.name: name !== "" ? name : tip
    Accessible.description: tip
    Accessible.onPressAction: if (enabled) button.clicked()
}
