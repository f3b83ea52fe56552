import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Dravlin

// Getting models: the recommended local models with download, progress and cancel, the
// installed ones with removal; the cloud catalog with search and add.
Sheet {
    id: sheet

    required property DrawSession session
    readonly property ModelsSheetController state: ModelsSheetController {
        session: sheet.session
    }

    title: qsTr("Get more models")
    width: 480

    contentItem: ColumnLayout {
        spacing: 14

        RowLayout {
            spacing: 10
            Layout.fillWidth: true
            Label {
                textFormat: Text.PlainText
                text: sheet.title
                color: Theme.text
                font.pixelSize: Theme.headline
                font.weight: Font.DemiBold
                Accessible.role: Accessible.Heading
            }
            Item {
                Layout.fillWidth: true
            }
            SegmentedControl {
                objectName: "tabs"
                name: qsTr("Models")
                value: sheet.state.tab
                options: [{ value: "local", text: qsTr("Local") }, { value: "cloud", text: qsTr("Cloud") }]
                onChosen: choice => sheet.state.tab = choice
            }
            DButton {
                kind: "bordered"
                text: qsTr("Done")
                onClicked: sheet.close()
            }
        }

        // ---- local ----
        ScrollView {
            id: localScroll
            visible: sheet.state.tab === "local"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(localColumn.implicitHeight, 440)
            contentWidth: availableWidth
            clip: true

            ColumnLayout {
                id: localColumn
                width: localScroll.availableWidth
                spacing: 10

                Repeater {
                    model: sheet.state.recommendedRows
                    RecommendedRow {
                        session: sheet.session
                        Layout.fillWidth: true
                    }
                }

                Label {
                    textFormat: Text.PlainText
                    visible: sheet.session.downloads.pullError !== ""
                    text: sheet.session.downloads.pullError
                    color: Theme.red
                    font.pixelSize: Theme.caption
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }

                // Installed models, each removable after a confirmation.
                ColumnLayout {
                    visible: sheet.state.installedRows.count > 0
                    spacing: 8
                    Layout.fillWidth: true

                    Rectangle {
                        color: Theme.white(0.12)
                        implicitHeight: 1
                        Layout.fillWidth: true
                        Layout.topMargin: 2
                        Layout.bottomMargin: 2
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        Label {
                            textFormat: Text.PlainText
                            text: qsTr("INSTALLED")
                            color: Theme.tertiary
                            font.pixelSize: Theme.caption3
                            font.weight: Font.Bold
                            font.letterSpacing: 1
                            Accessible.role: Accessible.Heading
                            Accessible.name: qsTr("Installed")
                        }
                        Item {
                            Layout.fillWidth: true
                        }
                        Label {
                            textFormat: Text.PlainText
                            text: sheet.state.totalInstalled
                            color: Theme.tertiary
                            font.pixelSize: Theme.caption2
                            Accessible.role: Accessible.StaticText
                            Accessible.name: text
                        }
                    }
                    Repeater {
                        model: sheet.state.installedRows
                        RowLayout {
                            id: installedRow
                            required property string name
                            required property bool tools
                            required property string releaseLabel
                            required property string size
                            spacing: 6
                            Layout.fillWidth: true
                            Accessible.role: Accessible.ListItem
                            Accessible.name: name + ", " + size

                            SymbolIcon {
                                symbol: "checkmark.circle.fill"
                                size: 11
                                color: Theme.installedMark
                            }
                            Label {
                                textFormat: Text.PlainText
                                text: installedRow.name
                                color: Theme.text
                                font.family: Theme.monoFamily
                                font.pixelSize: Theme.caption
                                elide: Text.ElideRight
                                Layout.maximumWidth: 220
                            }
                            Label {
                                textFormat: Text.PlainText
                                visible: !installedRow.tools
                                text: qsTr("no tools")
                                color: Theme.warningText
                                font.pixelSize: Theme.caption2
                            }
                            Label {
                                textFormat: Text.PlainText
                                visible: text !== ""
                                text: installedRow.releaseLabel
                                color: Theme.tertiary
                                font.pixelSize: Theme.caption2
                            }
                            Item {
                                Layout.fillWidth: true
                            }
                            Label {
                                textFormat: Text.PlainText
                                text: installedRow.size
                                color: Theme.tertiary
                                font.pixelSize: Theme.caption2
                            }
                            IconButton {
                                symbol: "trash"
                                size: 10
                                name: qsTr("Remove %1 from disk").arg(installedRow.name)
                                tip: qsTr("Remove from disk")
                                enabled: !sheet.session.running
                                onClicked: sheet.state.requestRemove(installedRow.name)
                            }
                        }
                    }
                }
            }
        }

        Label {
            textFormat: Text.PlainText
            visible: sheet.state.tab === "local"
            text: qsTr("Downloads keep going if you close this window.")
            color: Theme.tertiary
            font.pixelSize: Theme.caption2
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        // ---- cloud ----
        ColumnLayout {
            visible: sheet.state.tab === "cloud"
            spacing: 10
            Layout.fillWidth: true

            TextField {
                id: searchField
                objectName: "search"
                TapHandler {
                    acceptedButtons: Qt.RightButton
                    onTapped: (point) => searchFieldEditMenu.openAt(point.position)
                }
                EditMenu {
                    id: searchFieldEditMenu
                    target: searchField
                }
                text: sheet.state.search
                onTextEdited: sheet.state.search = text
                placeholderText: sheet.state.searchPlaceholder
                color: Theme.text
                font.pixelSize: Theme.body
                leftPadding: 8
                Layout.fillWidth: true
                background: Rectangle {
                    implicitHeight: 26
                    radius: 6
                    color: Theme.white(0.06)
                    border.width: 1
                    border.color: searchField.activeFocus ? Theme.accent : Theme.white(0.15)
                }
                Accessible.name: qsTr("Search cloud models")
            }
            RowLayout {
                visible: sheet.state.catalogEmpty
                spacing: 10
                Layout.fillWidth: true
                Label {
                    textFormat: Text.PlainText
                    objectName: "catalogNote"
                    text: sheet.state.catalogNote
                    color: Theme.secondary
                    font.pixelSize: Theme.caption
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
                DButton {
                    visible: sheet.state.catalogRetry
                    kind: "bordered"
                    text: qsTr("Retry")
                    onClicked: sheet.session.catalog.refreshRecommended()
                }
            }
            ListView {
                id: cloudList
                objectName: "cloudList"
                clip: true
                spacing: 8
                model: sheet.state.cloudResults
                Layout.fillWidth: true
                Layout.preferredHeight: Math.min(contentHeight, 420)
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar {}
                Accessible.role: Accessible.List
                Accessible.name: qsTr("Cloud models")
                delegate: RowLayout {
                    id: cloudRow
                    required property string modelId
                    required property string name
                    required property bool added
                    width: cloudList.width - 12
                    spacing: 10
                    Accessible.role: Accessible.ListItem
                    Accessible.name: name

                    ColumnLayout {
                        spacing: 2
                        Layout.fillWidth: true
                        RowLayout {
                            spacing: 5
                            Label {
                                textFormat: Text.PlainText
                                text: cloudRow.name
                                color: Theme.text
                                font.pixelSize: Theme.caption
                                font.weight: Font.DemiBold
                                elide: Text.ElideRight
                                Layout.maximumWidth: 300
                            }
                            SymbolIcon {
                                symbol: "cloud"
                                size: 9
                                color: Theme.tertiary
                            }
                        }
                        Label {
                            textFormat: Text.PlainText
                            text: cloudRow.modelId
                            color: Theme.tertiary
                            font.family: Theme.monoFamily
                            font.pixelSize: Theme.caption3
                            elide: Text.ElideRight
                            Layout.fillWidth: true
                        }
                    }
                    DButton {
                        kind: "bordered"
                        tinted: true
                        tint: cloudRow.added ? Theme.green : Theme.accent
                        text: cloudRow.added ? qsTr("✓ Added") : qsTr("Add")
                        Accessible.name: (cloudRow.added ? qsTr("Remove %1") : qsTr("Add %1")).arg(cloudRow.name)
                        onClicked: sheet.session.catalog.toggleCloud(cloudRow.modelId)
                    }
                }
            }
            Label {
                textFormat: Text.PlainText
                text: qsTr("Added models appear in the model picker, drawn on Dravlin Credit or your key.")
                color: Theme.tertiary
                font.pixelSize: Theme.caption2
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }
    }

    // Asking before a model leaves the disk.
    Dialog {
        id: confirm
        objectName: "removeConfirmation"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: 360
        modal: true
        visible: sheet.state.confirmingRemove !== ""
        closePolicy: Popup.CloseOnEscape
        padding: 18
        background: Rectangle {
            Accessible.role: Accessible.AlertMessage
            Accessible.name: sheet.state.removalTitle
            radius: 10
            color: Theme.alternateBG
            border.width: 1
            border.color: Theme.white(0.14)
        }
        contentItem: ColumnLayout {
            spacing: 14
            Label {
                textFormat: Text.PlainText
                text: sheet.state.removalTitle
                color: Theme.text
                font.pixelSize: Theme.body
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            RowLayout {
                spacing: 8
                Layout.alignment: Qt.AlignRight
                DButton {
                    kind: "bordered"
                    text: qsTr("Cancel")
                    onClicked: sheet.state.cancelRemove()
                }
                DButton {
                    kind: "prominent"
                    tint: Theme.red
                    text: qsTr("Remove from disk")
                    onClicked: sheet.state.confirmRemove()
                }
            }
        }
        onClosed: sheet.state.cancelRemove()
    }
}
