import QtQuick
import QtQuick.Controls.Basic

// A column of example prompts, one chip per line, each as wide as its text.
Column {
    id: chips

    required property var items
    signal chosen(string text)

    spacing: 6

    Repeater {
        model: chips.items

        Button {
            id: chip
            required property string modelData

            text: modelData
            font.family: Theme.fontFamily
            font.pixelSize: Theme.caption
            hoverEnabled: true
            leftPadding: 8
            rightPadding: 8
            topPadding: 4
            bottomPadding: 4
            contentItem: Text {
                textFormat: Text.PlainText
                text: chip.text
                font: chip.font
                color: Theme.white(chip.hovered ? 0.9 : 0.7)
            }
            background: Rectangle {
                radius: height / 2
                color: Theme.white(chip.down ? 0.16 : chip.hovered ? 0.12 : 0.08)
            }
            onClicked: chips.chosen(modelData)
            FocusRing {
                shown: chip.visualFocus
                radius: height / 2 + 2
            }

            HoverHandler {
                cursorShape: Qt.PointingHandCursor
            }
            Accessible.name: text
            Accessible.onPressAction: chip.clicked()
        }
    }
}
