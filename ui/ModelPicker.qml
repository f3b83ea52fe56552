import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// The pop-up list of models to draw with: installed ones, then cloud ones, under their headings.
AbstractButton {
    id: picker

    required property ContentController content
    readonly property DrawSession session: content.session

    enabled: !session.running
    hoverEnabled: true
    implicitHeight: 30
    leftPadding: 10
    rightPadding: 8

    contentItem: RowLayout {
        spacing: 6
        Text {
            text: picker.session.selectedModel ? picker.session.selectedModelLabel : "Choose a model"
            color: picker.session.selectedModel ? "white" : Theme.secondary
            font.family: Theme.fontFamily
            font.pixelSize: 13
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
        SymbolIcon {
            symbol: "chevron.down"
            size: 11
            color: Theme.white(0.6)
        }
    }
    background: Rectangle {
        radius: 7
        color: Theme.white(picker.down || popup.visible ? 0.14 : picker.hovered ? 0.12 : 0.1)
    }
    opacity: enabled ? 1 : 0.5
    onClicked: popup.open()

    Accessible.name: "Model"
    Accessible.description: picker.session.selectedModelLabel
    Accessible.onPressAction: if (picker.enabled) popup.open()

    Popup {
        id: popup
        y: picker.height + 4
        width: picker.width
        padding: 4
        modal: false
        focus: true
        background: Rectangle {
            color: "#232127"
            radius: 8
            border.width: 1
            border.color: Theme.white(0.12)
        }
        contentItem: ListView {
            implicitHeight: Math.min(contentHeight, 360)
            clip: true
            model: picker.content.pickerEntries
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            delegate: ItemDelegate {
                id: row
                required property var modelData
                readonly property bool section: modelData.kind === "section"
                readonly property bool chosen: !section && modelData.value === picker.session.selectedModel

                width: ListView.view.width
                enabled: !section
                hoverEnabled: true
                topPadding: section ? 8 : 5
                bottomPadding: section ? 3 : 5
                leftPadding: 8
                rightPadding: 8
                contentItem: RowLayout {
                    spacing: 6
                    Text {
                        text: row.modelData.text
                        color: row.section ? Theme.secondary : "white"
                        font.family: Theme.fontFamily
                        font.pixelSize: row.section ? Theme.caption2 : 13
                        font.weight: row.section ? Font.DemiBold : Font.Normal
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                    Text {
                        visible: row.chosen
                        text: "✓"
                        color: Theme.accent
                        font.pixelSize: 13
                    }
                }
                background: Rectangle {
                    radius: 5
                    color: !row.section && (row.hovered || row.down) ? Theme.accent : "transparent"
                    opacity: row.down ? 0.8 : 1
                }
                onClicked: {
                    picker.session.selectedModel = modelData.value
                    popup.close()
                }
                Accessible.role: section ? Accessible.StaticText : Accessible.MenuItem
                Accessible.name: modelData.text
                Accessible.checkable: !section
                Accessible.checked: chosen
                Accessible.onPressAction: if (!section) row.clicked()
            }
        }
    }
}
