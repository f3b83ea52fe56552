import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// The kept drawings, over the sidebar: a searchable list, newest first, and one entry opened on
// the canvas with its transcript (read-only), "Draw again" and the exports.
Rectangle {
    id: sheet

    required property ContentController content
    required property HistoryController history
    required property Exporter exporter
    readonly property DrawSession session: content.session

    // Made when the history is asked for and destroyed once it closes: most sessions never open
    // it, and a window should not build it, keep it in memory or pay for it at start-up.
    signal dismissed()

    function hide() {
        sheet.history.close()
        sheet.dismissed()
    }

    color: Theme.sidebarBG

    // The sheet itself takes the keys at first, not the search field, so the keys that opened it
    // close it again at once.
    Component.onCompleted: sheet.forceActiveFocus()
    Connections {
        target: sheet.history
        function onViewingChanged() { sheet.forceActiveFocus() }
    }

    // Escape closes the panel, unless a question over it is open: that closes first.
    Shortcut {
        sequences: [StandardKey.Cancel] // qmllint disable
        enabled: !confirmAll.visible
        onActivated: sheet.hide()
    }

    // Keys reach the sheet's own list before anything under it.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        onWheel: (wheel) => wheel.accepted = true
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 12

        // Title, and the ways out.
        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 6
            spacing: 8
            DButton {
                visible: sheet.history.viewing
                text: qsTr("‹ History")
                font.pixelSize: Theme.body
                textColor: Theme.accent
                onClicked: sheet.history.close()
            }
            Label {
                textFormat: Text.PlainText
                visible: !sheet.history.viewing
                text: qsTr("History")
                color: Theme.text
                font.pixelSize: Theme.title
                font.weight: Font.Bold
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            Item {
                Layout.fillWidth: true
            }
            DButton {
                visible: !sheet.history.viewing && sheet.history.available && list.count > 0
                text: qsTr("Delete all…")
                textColor: Theme.red
                onClicked: confirmAll.open()
            }
            AbstractButton {
                id: closeButton
                ToolTip.visible: closeButton.hovered
                ToolTip.delay: 500
                ToolTip.text: qsTr("Close (Esc)")
                FocusRing {
                    shown: closeButton.visualFocus
                    radius: width / 2 + 2
                }
                Layout.preferredWidth: 28
                Layout.preferredHeight: 28
                hoverEnabled: true
                contentItem: Item {
                    SymbolIcon {
                        anchors.centerIn: parent
                        symbol: "xmark"
                        size: 12
                        color: Theme.white(0.65)
                    }
                }
                background: Rectangle {
                    radius: width / 2
                    color: Theme.white(closeButton.down ? 0.16 : closeButton.hovered ? 0.12 : 0.08)
                }
                onClicked: sheet.hide()
                Accessible.role: Accessible.Button
                Accessible.name: qsTr("Close history")
                Accessible.onPressAction: closeButton.clicked()
            }
        }

        Label {
            textFormat: Text.PlainText
            objectName: "historyNotice"
            visible: !sheet.history.available
            text: sheet.history.notice
            color: Theme.orange
            font.pixelSize: Theme.caption
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Accessible.role: Accessible.AlertMessage
            Accessible.name: text
        }

        // ---- the list ----
        TextField {
            id: searchField
            objectName: "historySearch"
            TapHandler {
                acceptedButtons: Qt.RightButton
                onTapped: (point) => searchFieldEditMenu.openAt(point.position)
            }
            EditMenu {
                id: searchFieldEditMenu
                target: searchField
            }
            visible: !sheet.history.viewing && sheet.history.available
            Layout.fillWidth: true
            placeholderText: qsTr("Search prompts")
            color: Theme.text
            font.pixelSize: Theme.body
            selectionColor: Theme.accent
            leftPadding: 10
            background: Rectangle {
                radius: 7
                color: Theme.white(0.1)
            }
            Accessible.name: qsTr("Search history")
        }

        ListView {
            id: list
            objectName: "historyList"
            visible: !sheet.history.viewing && sheet.history.available
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 6
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                width: 6
            }
            model: HistoryModel {
                id: entries
                search: searchField.text
            }
            Accessible.role: Accessible.List
            Accessible.name: qsTr("Kept drawings")

            delegate: AbstractButton {
                id: row
                required property int index
                required property var entryId
                required property string prompt
                required property string model
                required property string dateText
                required property string thumbnail

                width: ListView.view.width - 8
                height: 64
                hoverEnabled: true
                background: Rectangle {
                    radius: 8
                    color: Theme.white(row.down ? 0.12 : row.hovered ? 0.08 : 0.04)
                    FocusRing {
                        shown: row.visualFocus
                        radius: 10
                    }
                }
                // Delete and Backspace remove the drawing the keyboard is on, as a file manager does.
                Keys.onDeletePressed: sheet.history.remove(row.entryId)
                Keys.onPressed: (event) => {
                    if (event.key === Qt.Key_Backspace) {
                        sheet.history.remove(row.entryId)
                        event.accepted = true
                    }
                }
                contentItem: RowLayout {
                    spacing: 10
                    Rectangle {
                        Layout.leftMargin: 6
                        Layout.preferredWidth: 64
                        Layout.preferredHeight: 48
                        radius: 5
                        color: Theme.text
                        clip: true
                        Image {
                            anchors.fill: parent
                            anchors.margins: 2
                            source: row.thumbnail
                            fillMode: Image.PreserveAspectFit
                            asynchronous: true
                            smooth: true
                            mipmap: true
                        }
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2
                        Label {
                            textFormat: Text.PlainText
                            Layout.fillWidth: true
                            text: row.prompt
                            color: Theme.text
                            font.pixelSize: Theme.body
                            elide: Text.ElideRight
                            maximumLineCount: 2
                            wrapMode: Text.Wrap
                        }
                        Label {
                            textFormat: Text.PlainText
                            Layout.fillWidth: true
                            text: row.dateText + " · " + row.model
                            color: Theme.secondary
                            font.pixelSize: Theme.caption2
                            elide: Text.ElideRight
                        }
                    }
                    AbstractButton {
                        id: deleteOne
                        hoverEnabled: true
                        ToolTip.visible: deleteOne.hovered
                        ToolTip.delay: 500
                        ToolTip.text: qsTr("Delete")
                        FocusRing {
                            shown: deleteOne.visualFocus
                            radius: width / 2 + 2
                        }
                        Layout.rightMargin: 6
                        Layout.preferredWidth: 22
                        Layout.preferredHeight: 22
                        visible: row.hovered || row.visualFocus || deleteOne.activeFocus
                        contentItem: Item {
                            SymbolIcon {
                                anchors.centerIn: parent
                                symbol: "xmark"
                                size: 9
                                color: Theme.white(0.6)
                            }
                        }
                        background: Rectangle {
                            radius: width / 2
                            color: Theme.white(deleteOne.hovered ? 0.16 : 0.08)
                        }
                        onClicked: sheet.history.remove(row.entryId)
                        Accessible.role: Accessible.Button
                        Accessible.name: qsTr("Delete %1").arg(row.prompt)
                        Accessible.onPressAction: deleteOne.clicked()
                    }
                }
                onClicked: sheet.history.open(row.entryId)
                Accessible.name: row.prompt + ", " + row.dateText
                Accessible.onPressAction: row.clicked()
            }

            Label {
                textFormat: Text.PlainText
                anchors.centerIn: parent
                visible: list.count === 0
                text: searchField.text === "" ? qsTr("Finished drawings are kept here.") : qsTr("Nothing matches.")
                color: Theme.secondary
                font.pixelSize: Theme.caption
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }

        // ---- one entry ----
        Flickable {
            id: detail
            visible: sheet.history.viewing
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: width
            contentHeight: detailColumn.implicitHeight
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                width: 6
            }

            ColumnLayout {
                id: detailColumn
                width: detail.width - 10
                spacing: 12

                Label {
                    textFormat: Text.PlainText
                    Layout.fillWidth: true
                    text: sheet.history.entry.prompt || ""
                    color: Theme.text
                    font.pixelSize: Theme.body
                    wrapMode: Text.Wrap
                    leftPadding: 10
                    rightPadding: 10
                    topPadding: 7
                    bottomPadding: 7
                    background: Rectangle {
                        radius: 12
                        color: Theme.white(0.08)
                    }
                    Accessible.role: Accessible.StaticText
                    Accessible.name: qsTr("Prompt: %1").arg(text)
                }
                RowLayout {
                    spacing: 6
                    Layout.fillWidth: true
                    Rectangle {
                        implicitWidth: 6
                        implicitHeight: 6
                        radius: 3
                        color: Theme.accent
                    }
                    Label {
                        textFormat: Text.PlainText
                        text: sheet.history.entry.model || ""
                        color: Theme.modelName
                        font.pixelSize: Theme.caption2
                        font.weight: Font.DemiBold
                        elide: Text.ElideRight
                        Layout.maximumWidth: detailColumn.width - 90
                        Accessible.role: Accessible.StaticText
                        Accessible.name: qsTr("Model %1").arg(text)
                    }
                    Label {
                        textFormat: Text.PlainText
                        visible: (sheet.history.entry.duration || "") !== ""
                        text: "· " + (sheet.history.entry.duration || "")
                        color: Theme.secondary
                        font.pixelSize: Theme.caption2
                    }
                    Label {
                        textFormat: Text.PlainText
                        visible: sheet.history.entry.mode === "recreate"
                        text: "· " + qsTr("recreated")
                        color: Theme.secondary
                        font.pixelSize: Theme.caption2
                    }
                }
                TextEdit {
                    visible: text !== ""
                    Layout.fillWidth: true
                    text: sheet.history.entry.narration || ""
                    readOnly: true
                    selectByMouse: true
                    wrapMode: TextEdit.Wrap
                    color: Theme.white(0.82)
                    selectionColor: Theme.accent
                    selectedTextColor: Theme.text
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.body
                    Accessible.role: Accessible.StaticText
                    Accessible.name: qsTr("Narration")
                }
                Label {
                    id: publishedLink
                    textFormat: Text.PlainText
                    visible: text !== ""
                    text: sheet.history.entry.publishedText || ""
                    color: Theme.accent
                    font.family: Theme.monoFamily
                    font.pixelSize: Theme.caption2
                    elide: Text.ElideMiddle
                    Layout.fillWidth: true
                    HoverHandler {
                        cursorShape: Qt.PointingHandCursor
                    }
                    TapHandler {
                        onTapped: sheet.content.openLink(sheet.history.entry.publishedURL)
                    }
                    Accessible.role: Accessible.Link
                    Accessible.name: text
                    Accessible.onPressAction: sheet.content.openLink(sheet.history.entry.publishedURL)
                }
                Loader {
                    Layout.fillWidth: true
                    active: sheet.history.viewing
                    sourceComponent: SVGCodeBox {
                        svg: sheet.history.entry.svg || ""
                    }
                }
                ExportBar {
                    Layout.fillWidth: true
                    exporter: sheet.exporter
                }
                RowLayout {
                    spacing: 10
                    DButton {
                        kind: "prominent"
                        small: false
                        text: qsTr("Draw again")
                        font.weight: Font.DemiBold
                        enabled: !sheet.session.running && sheet.session.catalog.selectedModel !== ""
                        onClicked: {
                            sheet.history.drawAgain()
                            sheet.hide()
                        }
                    }
                    DButton {
                        text: qsTr("Delete")
                        textColor: Theme.red
                        onClicked: sheet.history.remove(sheet.history.entry.id)
                    }
                }
            }
        }
    }

    // A drawing just deleted can come back for a few seconds.
    Rectangle {
        objectName: "undoBar"
        anchors { left: parent.left; right: parent.right; bottom: parent.bottom; margins: 12 }
        visible: sheet.history.undoText !== ""
        height: 38
        radius: 8
        color: Theme.controlBG
        border.width: 1
        border.color: Theme.white(0.12)
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 12
            anchors.rightMargin: 6
            spacing: 8
            Label {
                textFormat: Text.PlainText
                text: sheet.history.undoText
                color: Theme.text
                font.pixelSize: Theme.caption
                elide: Text.ElideRight
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            DButton {
                text: qsTr("Undo")
                textColor: Theme.accent
                font.weight: Font.DemiBold
                onClicked: sheet.history.undoRemove()
            }
        }
    }

    // Deleting every drawing cannot be undone: ask once.
    Popup {
        id: confirmAll
        anchors.centerIn: parent
        width: parent.width - 40
        modal: true
        focus: true
        padding: 14
        background: Rectangle {
            radius: 10
            color: Theme.popupBG
            border.width: 1
            border.color: Theme.white(0.12)
        }
        contentItem: ColumnLayout {
            spacing: 10
            Label {
                textFormat: Text.PlainText
                text: qsTr("Delete all kept drawings?")
                color: Theme.text
                font.pixelSize: Theme.body
                font.weight: Font.DemiBold
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            Label {
                textFormat: Text.PlainText
                Layout.fillWidth: true
                text: qsTr("They are removed from this computer. Published drawings stay on the web.")
                color: Theme.secondary
                font.pixelSize: Theme.caption
                wrapMode: Text.Wrap
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            RowLayout {
                Item {
                    Layout.fillWidth: true
                }
                DButton {
                    text: qsTr("Cancel")
                    onClicked: confirmAll.close()
                }
                DButton {
                    kind: "prominent"
                    tint: Theme.red
                    text: qsTr("Delete all")
                    onClicked: {
                        confirmAll.close()
                        sheet.history.removeAll()
                    }
                }
            }
        }
    }
}
