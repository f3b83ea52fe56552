import QtQuick
import QtQuick.Controls.Basic

// The window's buttons: "prominent" (filled with the tint), "bordered" (a quiet fill) or
// "plain" (text only). Every one can be pressed from the accessibility bus.
Button {
    id: control

    property string kind: "plain"
    property color tint: Theme.accent
    // A bordered button may take its tint for its text and a faint fill of it.
    property bool tinted: false
    property color textColor: kind === "plain" ? Theme.white(0.5) : tinted ? tint : Theme.text
    property bool small: true

    font.family: Theme.fontFamily
    font.pixelSize: Theme.caption
    hoverEnabled: true
    leftPadding: kind === "plain" ? 0 : (small ? 10 : 14)
    rightPadding: leftPadding
    topPadding: kind === "plain" ? 0 : (small ? 4 : 6)
    bottomPadding: topPadding

    contentItem: Text {
        textFormat: Text.PlainText
        text: control.text
        font: control.font
        color: control.textColor
        opacity: control.enabled ? (control.kind === "plain" && control.down ? 0.7 : 1) : 0.4
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    FocusRing {
        shown: control.visualFocus
        radius: control.kind === "plain" ? 4 : 8
    }
    background: Rectangle {
        visible: control.kind !== "plain"
        implicitHeight: control.small ? 22 : 28
        radius: 6
        color: {
            if (control.kind === "prominent") {
                if (!control.enabled)
                    return Theme.white(0.1)
                return control.down ? Qt.darker(control.tint, 1.2)
                                    : control.hovered ? Qt.lighter(control.tint, 1.08) : control.tint
            }
            if (control.tinted)
                return Qt.rgba(control.tint.r, control.tint.g, control.tint.b,
                               control.down ? 0.3 : control.hovered ? 0.24 : 0.18)
            return control.down ? Theme.white(0.2) : control.hovered ? Theme.white(0.15) : Theme.white(0.1)
        }
        border.width: control.kind === "bordered" ? 1 : 0
        border.color: Theme.white(0.12)
    }

    HoverHandler {
        cursorShape: control.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
    }

    Accessible.name: text
    Accessible.onPressAction: if (control.enabled) control.clicked()
}
