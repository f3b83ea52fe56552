import QtQuick
import QtQuick.Controls.Basic
import Dravlin

// A row of mutually exclusive choices, each read out as a radio button.
Rectangle {
    id: control

    // [{ value, text }]
    property var options: []
    property string value
    property string name
    signal chosen(string choice)

    implicitWidth: segmentRow.implicitWidth + 4
    implicitHeight: 24
    radius: 6
    color: Theme.white(0.08)
    opacity: enabled ? 1 : 0.5
    Accessible.role: Accessible.Grouping
    Accessible.name: name

    Row {
        id: segmentRow
        anchors.centerIn: parent
        spacing: 2
        Repeater {
            model: control.options
            AbstractButton {
                id: segment
                required property var modelData
                readonly property bool selected: control.value === modelData.value
                height: 20
                leftPadding: 9
                rightPadding: 9
                hoverEnabled: true
                contentItem: Text {
                    textFormat: Text.PlainText
                    text: segment.modelData.text
                    color: segment.selected ? Theme.text : Theme.white(0.7)
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.caption2
                    font.weight: segment.selected ? Font.DemiBold : Font.Normal
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    radius: 5
                    color: segment.selected ? Theme.white(0.2) : segment.hovered ? Theme.white(0.06) : "transparent"
                }
                onClicked: control.chosen(modelData.value)
                FocusRing {
                    shown: segment.visualFocus
                    radius: 6
                }
                Accessible.role: Accessible.RadioButton
                Accessible.name: modelData.text
                Accessible.checkable: true
                Accessible.checked: selected
                Accessible.onPressAction: if (segment.enabled) segment.clicked()
            }
        }
    }
}
