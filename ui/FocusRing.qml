import QtQuick
import Dravlin

// Where the keyboard is: a ring in the accent colour round a control, shown only when focus came
// from the keyboard (Tab, a shortcut), never after a click.
Rectangle {
    property bool shown: false

    anchors.fill: parent
    anchors.margins: -2
    radius: 8
    color: "transparent"
    border.width: 2
    border.color: Theme.accent
    visible: shown
}
