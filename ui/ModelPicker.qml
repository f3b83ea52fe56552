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
            textFormat: Text.PlainText
            text: picker.session.catalog.selectedModel ? picker.session.catalog.selectedModelLabel : qsTr("Choose a model")
            color: picker.session.catalog.selectedModel ? Theme.text : Theme.secondary
            font.family: Theme.fontFamily
            font.pixelSize: Theme.body
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
    // Space opens it as a button does; so do Return and Alt+Down, as a list box does.
    Keys.onPressed: (event) => {
        const opens = event.key === Qt.Key_Return || event.key === Qt.Key_Enter
                || (event.key === Qt.Key_Down && (event.modifiers & Qt.AltModifier))
        if (opens && picker.enabled) {
            popup.open()
            event.accepted = true
        }
    }
    FocusRing {
        shown: picker.visualFocus
    }

    Accessible.name: qsTr("Model")
    Accessible.description: picker.session.catalog.selectedModelLabel
    Accessible.onPressAction: if (picker.enabled) popup.open()

    Popup {
        id: popup
        y: picker.height + 4
        width: picker.width
        padding: 4
        modal: false
        focus: true
        background: Rectangle {
            color: Theme.popupBG
            radius: 8
            border.width: 1
            border.color: Theme.white(0.12)
        }
        // The keyboard starts on the model in use; the arrows, Home and End move over models,
        // typing jumps to a name, Return picks, Escape closes and keeps what was chosen.
        property string typed: ""
        onOpened: {
            list.currentIndex = picker.content.pickerStart()
            list.forceActiveFocus()
        }
        Timer {
            id: typeAhead
            interval: 900
            onTriggered: popup.typed = ""
        }
        contentItem: ListView {
            id: list
            objectName: "pickerList"
            implicitHeight: Math.min(contentHeight, 360)
            keyNavigationEnabled: false
            highlightMoveDuration: 0
            Keys.onPressed: (event) => {
                const moves = { [Qt.Key_Up]: "up", [Qt.Key_Down]: "down", [Qt.Key_Home]: "home",
                                [Qt.Key_End]: "end" }
                if (moves[event.key] !== undefined) {
                    list.currentIndex = picker.content.pickerStep(list.currentIndex, moves[event.key])
                    event.accepted = true
                } else if (event.key === Qt.Key_Escape) {
                    popup.close()
                    picker.forceActiveFocus(Qt.TabFocusReason)
                    event.accepted = true
                } else if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter || event.key === Qt.Key_Space) {
                    if (list.currentItem && !list.currentItem.section)
                        list.currentItem.clicked()
                    event.accepted = true
                } else if (event.text.length === 1 && event.text.trim() !== "" && !(event.modifiers & Qt.ControlModifier)) {
                    popup.typed += event.text
                    typeAhead.restart()
                    list.currentIndex = picker.content.pickerFind(list.currentIndex, popup.typed)
                    event.accepted = true
                }
            }
            clip: true
            model: picker.content.pickerEntries
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            delegate: ItemDelegate {
                id: row
                required property string kind
                required property string label
                required property string value
                readonly property bool section: kind === "section"
                readonly property bool chosen: !section && value === picker.session.catalog.selectedModel

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
                        textFormat: Text.PlainText
                        text: row.label
                        color: row.section ? Theme.secondary : Theme.text
                        font.family: Theme.fontFamily
                        font.pixelSize: row.section ? Theme.caption2 : 13
                        font.weight: row.section ? Font.DemiBold : Font.Normal
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                    Text {
                        textFormat: Text.PlainText
                        visible: row.chosen
                        text: "✓"
                        color: Theme.accent
                        font.pixelSize: Theme.body
                    }
                }
                background: Rectangle {
                    radius: 5
                    color: !row.section && (row.hovered || row.down || row.ListView.isCurrentItem) ? Theme.accent
                                                                                                 : "transparent"
                    opacity: row.down ? 0.8 : 1
                }
                onClicked: {
                    picker.session.catalog.selectedModel = row.value
                    popup.close()
                    picker.forceActiveFocus(Qt.TabFocusReason)
                }
                Accessible.role: section ? Accessible.StaticText : Accessible.MenuItem
                Accessible.name: row.label
                Accessible.checkable: !section
                Accessible.checked: chosen
                Accessible.onPressAction: if (!section) row.clicked()
            }
        }
    }
}
