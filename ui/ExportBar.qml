import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts
import Dravlin

// The ways a drawing leaves the app: a file (SVG or PNG) or the clipboard. Everything comes from
// what the canvas shows, through the exporter; this only asks where and how big.
ColumnLayout {
    id: bar

    required property Exporter exporter

    spacing: 4

    function saveSvg() {
        if (!bar.exporter.busy)
            svgDialog.openFor(bar.exporter.suggestedFile("svg"))
    }
    function exportPng() {
        if (!bar.exporter.busy)
            pngOptions.open()
    }
    function copySvg() {
        bar.exporter.copySvg()
    }

    // The platform's shortcuts, for whichever bar is on screen.
    Shortcut {
        sequence: StandardKey.Save // qmllint disable
        enabled: bar.visible
        onActivated: bar.saveSvg()
    }
    Shortcut {
        sequence: "Ctrl+Shift+E"
        enabled: bar.visible
        onActivated: bar.exportPng()
    }
    Shortcut {
        sequence: "Ctrl+Shift+C"
        enabled: bar.visible
        onActivated: bar.copySvg()
    }

    GridLayout {
        Layout.fillWidth: true
        columns: 2
        rowSpacing: 6
        columnSpacing: 6
        DButton {
            objectName: "saveSvgButton"
            kind: "bordered"
            Layout.fillWidth: true
            text: qsTr("Save SVG…")
            enabled: !bar.exporter.busy
            onClicked: bar.saveSvg()
        }
        DButton {
            id: pngButton
            kind: "bordered"
            Layout.fillWidth: true
            text: qsTr("Export PNG…")
            enabled: !bar.exporter.busy
            onClicked: bar.exportPng()
        }
        DButton {
            kind: "bordered"
            Layout.fillWidth: true
            text: qsTr("Copy SVG")
            enabled: !bar.exporter.busy
            onClicked: bar.copySvg()
        }
        DButton {
            kind: "bordered"
            Layout.fillWidth: true
            text: qsTr("Copy image")
            enabled: !bar.exporter.busy
            onClicked: bar.exporter.copyImage()
        }
    }

    Label {
        textFormat: Text.PlainText
        objectName: "exportMessage"
        visible: text !== ""
        text: bar.exporter.message
        color: bar.exporter.failed ? Theme.red : Theme.secondary
        font.pixelSize: Theme.caption2
        wrapMode: Text.Wrap
        Layout.fillWidth: true
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    // Size and background, then the file.
    Popup {
        id: pngOptions
        parent: pngButton
        y: pngButton.height + 4
        padding: 10
        modal: true
        focus: true
        background: Rectangle {
            radius: 8
            color: Theme.popupBG
            border.width: 1
            border.color: Theme.white(0.12)
        }
        contentItem: ColumnLayout {
            spacing: 8
            Label {
                textFormat: Text.PlainText
                text: qsTr("Export PNG")
                color: Theme.text
                font.pixelSize: Theme.body
                font.weight: Font.DemiBold
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            RowLayout {
                spacing: 6
                ComboBox {
                    id: sizeChoice
                    model: ["1×", "2×", qsTr("Width")]
                    currentIndex: 1
                    implicitWidth: 90
                    font.pixelSize: Theme.caption
                    Accessible.name: qsTr("Size")
                }
                SpinBox {
                    id: widthChoice
                    visible: sizeChoice.currentIndex === 2
                    from: 16
                    to: 4096
                    stepSize: 64
                    value: 1024
                    editable: true
                    implicitWidth: 110
                    font.pixelSize: Theme.caption
                    Accessible.name: qsTr("Width in pixels")
                }
            }
            CheckBox {
                id: whiteChoice
                text: qsTr("White background")
                checked: true
                font.pixelSize: Theme.caption
                Accessible.name: text
                Accessible.onPressAction: toggle()
            }
            RowLayout {
                spacing: 6
                Item {
                    Layout.fillWidth: true
                }
                DButton {
                    kind: "plain"
                    text: qsTr("Cancel")
                    onClicked: pngOptions.close()
                }
                DButton {
                    kind: "prominent"
                    text: qsTr("Choose file…")
                    onClicked: {
                        pngOptions.close()
                        pngDialog.openFor(bar.exporter.suggestedFile("png"))
                    }
                }
            }
        }
    }

    // Made on first use: most windows never save a file.
    Loader {
        id: svgDialog
        active: false
        function openFor(file) {
            active = true
            item.currentFolder = bar.exporter.lastFolder
            item.selectedFile = file
            item.open()
            DialogLook.fitWhenShown(bar)
        }
        sourceComponent: FileDialog {
            objectName: "saveSvgDialog"
            title: qsTr("Save SVG")
            fileMode: FileDialog.SaveFile
            acceptLabel: qsTr("Save")
            defaultSuffix: "svg"
            nameFilters: [qsTr("SVG images (%1)").arg("*.svg")]
            onAccepted: bar.exporter.saveSvg(selectedFile)
        }
    }
    Loader {
        id: pngDialog
        active: false
        function openFor(file) {
            active = true
            item.currentFolder = bar.exporter.lastFolder
            item.selectedFile = file
            item.open()
            DialogLook.fitWhenShown(bar)
        }
        sourceComponent: FileDialog {
            title: qsTr("Export PNG")
            fileMode: FileDialog.SaveFile
            acceptLabel: qsTr("Save")
            defaultSuffix: "png"
            nameFilters: [qsTr("PNG images (%1)").arg("*.png")]
            onAccepted: bar.exporter.savePng(selectedFile, sizeChoice.currentIndex === 1 ? 2 : 1,
                                             sizeChoice.currentIndex === 2 ? widthChoice.value : 0,
                                             whiteChoice.checked)
        }
    }
}
