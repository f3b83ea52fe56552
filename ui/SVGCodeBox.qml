import QtQuick
import QtQuick.Controls.Basic
import Dravlin

// The source of a finished drawing behind a header that folds it open: collapsed at first, the
// text selectable in a box that scrolls beyond 220 points.
Rectangle {
    id: box

    required property string svg
    property bool expanded: false

    implicitHeight: column.implicitHeight
    radius: 10
    color: Theme.white(0.05)
    border.width: 1
    border.color: Theme.white(0.1)
    clip: true

    Behavior on implicitHeight {
        NumberAnimation {
            duration: 180
            easing.type: Easing.OutCubic
        }
    }

    Column {
        id: column
        width: parent.width

        AbstractButton {
            id: header
            objectName: "codeBoxHeader"
            width: parent.width
            padding: 10
            hoverEnabled: true
            onClicked: box.expanded = !box.expanded
            contentItem: Row {
                spacing: 6
                SymbolIcon {
                    anchors.verticalCenter: parent.verticalCenter
                    symbol: box.expanded ? "chevron.down" : "chevron.right"
                    size: 10
                    color: Theme.accent
                }
                Text {
                    textFormat: Text.PlainText
                    text: qsTr("SVG code")
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.caption
                    color: Theme.accent
                }
                Text {
                    textFormat: Text.PlainText
                    text: "· " + Formats.sizeLabel(box.svg)
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.caption
                    color: Theme.secondary
                }
            }
            background: Rectangle {
                color: header.hovered ? Theme.white(0.03) : "transparent"
                radius: 10
            }
            HoverHandler {
                cursorShape: Qt.PointingHandCursor
            }
            Accessible.role: Accessible.Button
            Accessible.name: qsTr("SVG code, %1").arg(Formats.sizeLabel(box.svg))
            Accessible.description: box.expanded ? qsTr("expanded") : qsTr("collapsed")
            Accessible.onPressAction: header.clicked()
        }

        Loader {
            width: parent.width
            active: box.expanded
            visible: active
            sourceComponent: ScrollView {
                id: scroller
                height: Math.min(220, source.implicitHeight)
                contentWidth: availableWidth
                ScrollBar.vertical.policy: ScrollBar.AsNeeded

                TextEdit {
                    id: source
                    width: scroller.availableWidth
                    padding: 10
                    text: box.svg
                    readOnly: true
                    selectByMouse: true
                    wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
                    font.family: Theme.monoFamily
                    font.pixelSize: Theme.caption3
                    color: Theme.white(0.7)
                    selectionColor: Theme.accent
                    selectedTextColor: Theme.text
                    Accessible.role: Accessible.EditableText
                    Accessible.name: qsTr("SVG source")
                    TapHandler {
                        acceptedButtons: Qt.RightButton
                        onTapped: (point) => sourceEditMenu.openAt(point.position)
                    }
                    EditMenu {
                        id: sourceEditMenu
                        target: source
                    }
                }
            }
        }
    }
}
