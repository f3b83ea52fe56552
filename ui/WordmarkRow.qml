import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// The logo, the name, and the ⋯ menu with the links to the web site and the sheets.
RowLayout {
    id: row

    required property ContentController content

    spacing: 10

    Image {
        id: logo
        source: "images/logo_white.png"
        sourceSize.width: 80
        sourceSize.height: 80
        Layout.preferredWidth: 40
        Layout.preferredHeight: 40
        fillMode: Image.PreserveAspectFit
        // Shown at exactly half its decoded size (1:1 on a 2× screen), where plain smooth filtering
        // is exact. Mipmaps would take it out of the shared texture atlas and, on a software
        // renderer, add shader compiles to the first frame.
        smooth: true
        // A missing or unreadable logo leaves the row starting with the name.
        visible: status === Image.Ready
        Accessible.ignored: true
    }

    Label {
        textFormat: Text.PlainText
        text: "DRAVLIN"
        color: Theme.text
        font.family: Theme.fontFamily
        font.pixelSize: Theme.wordmark
        font.weight: Font.Black
        font.letterSpacing: 1.5
        Accessible.role: Accessible.Heading
        Accessible.name: "Dravlin"
    }

    Item {
        Layout.fillWidth: true
    }

    AbstractButton {
        id: menuButton
        Layout.preferredWidth: 28
        Layout.preferredHeight: 28
        hoverEnabled: true
        contentItem: Item {
            SymbolIcon {
                anchors.centerIn: parent
                symbol: "ellipsis"
                size: 16
                color: Theme.white(0.65)
            }
        }
        background: Rectangle {
            radius: width / 2
            color: Theme.white(menuButton.down || menu.visible ? 0.16 : menuButton.hovered ? 0.12 : 0.08)
        }
        onClicked: menu.popup(menuButton, menuButton.width - menu.width, menuButton.height + 4)
        FocusRing {
            shown: menuButton.visualFocus
            radius: width / 2 + 2
        }
        HoverHandler {
            cursorShape: Qt.PointingHandCursor
        }
        ToolTip.visible: menuButton.hovered && !menu.visible
        ToolTip.delay: 500
        ToolTip.text: qsTr("More")
        Accessible.name: qsTr("More")
        Accessible.onPressAction: menuButton.clicked()
    }

    Menu {
        id: menu
        width: 230
        padding: 5
        font.family: Theme.fontFamily
        font.pixelSize: Theme.body
        background: Rectangle {
            implicitWidth: 230
            radius: 8
            color: Theme.popupBG
            border.width: 1
            border.color: Theme.white(0.12)
        }

        Instantiator {
            model: row.content.menuEntries
            delegate: MenuItem {
                id: item
                required property string entry
                required property string label
                required property bool choice
                required property bool chosen
                required property string shortcut
                readonly property bool divider: entry === "divider"

                text: label
                checkable: choice
                checked: chosen
                // A tick where the keys go, so every item's text starts in the same place.
                indicator: Item {}
                enabled: !divider
                implicitHeight: divider ? 9 : 28
                topPadding: divider ? 4 : 0
                bottomPadding: divider ? 4 : 0
                contentItem: divider ? dividerLine : itemText
                background: Rectangle {
                    radius: 5
                    color: item.highlighted && !item.divider ? Theme.accent : "transparent"
                }
                onTriggered: {
                    if (item.entry === "checkForUpdates")
                        DravlinApp.checkForUpdates()
                    else
                        row.content.activateMenuEntry(item.entry)
                }

                Rectangle {
                    id: dividerLine
                    visible: item.divider
                    implicitHeight: 1
                    color: Theme.white(0.12)
                }
                Item {
                    id: itemText
                    visible: !item.divider
                    implicitWidth: itemLabel.implicitWidth + itemKeys.implicitWidth + 16
                    implicitHeight: itemLabel.implicitHeight
                    Text {
                        id: itemLabel
                        textFormat: Text.PlainText
                        anchors.verticalCenter: parent.verticalCenter
                        text: item.text
                        font: item.font
                        color: Theme.text
                        leftPadding: 4
                    }
                    // The item's key, as the platform writes it.
                    Text {
                        id: itemKeys
                        textFormat: Text.PlainText
                        anchors.right: parent.right
                        anchors.rightMargin: 4
                        anchors.verticalCenter: parent.verticalCenter
                        text: item.checked ? "✓" : item.shortcut
                        font.family: item.font.family
                        font.pixelSize: Theme.caption2
                        color: item.highlighted || item.checked ? Theme.text : Theme.white(0.45)
                    }
                }
                Accessible.role: divider ? Accessible.Separator : Accessible.MenuItem
                Accessible.name: divider ? "" : text
                Accessible.onPressAction: if (!divider) { item.triggered(); menu.close() }
            }
            onObjectAdded: (index, object) => menu.insertItem(index, object)
            onObjectRemoved: (index, object) => menu.removeItem(object)
        }
    }
}
