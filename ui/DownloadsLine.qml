import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// The application's downloads, seen from the main window without opening the sheet: one compact
// line per running download, and the last failure until it is dismissed.
ColumnLayout {
    id: line

    required property Downloads downloads

    // The downloads outlive every window but the last; at the very end they may go first.
    readonly property string error: downloads ? downloads.pullError : ""

    visible: downloads !== null && (downloads.count > 0 || error !== "")
    spacing: 4

    Repeater {
        model: line.downloads
        delegate: RowLayout {
            id: row
            required property string name
            required property real fraction
            required property string percent
            spacing: 6
            Layout.fillWidth: true
            Accessible.role: Accessible.ProgressBar
            Accessible.name: qsTr("Downloading %1, %2").arg(name).arg(percent)

            Label {
                textFormat: Text.PlainText
                text: row.name
                color: Theme.secondary
                font.family: Theme.monoFamily
                font.pixelSize: Theme.caption2
                elide: Text.ElideRight
                Layout.maximumWidth: 130
            }
            ProgressBar {
                id: bar
                from: 0
                to: 1
                value: row.fraction
                implicitHeight: 4
                Layout.fillWidth: true
                background: Rectangle {
                    radius: 2
                    color: Theme.white(0.12)
                }
                contentItem: Item {
                    Rectangle {
                        width: bar.visualPosition * parent.width
                        height: parent.height
                        radius: 2
                        color: Theme.accent
                    }
                }
            }
            Label {
                textFormat: Text.PlainText
                text: row.percent
                color: Theme.tertiary
                font.pixelSize: Theme.caption2
                horizontalAlignment: Text.AlignRight
                Layout.preferredWidth: 28
            }
            IconButton {
                symbol: "xmark.circle.fill"
                size: 12
                name: qsTr("Cancel download of %1").arg(row.name)
                tip: qsTr("Cancel download")
                onClicked: line.downloads.cancelPull(row.name)
            }
        }
    }

    RowLayout {
        visible: line.error !== ""
        spacing: 6
        Layout.fillWidth: true
        Label {
            textFormat: Text.PlainText
            objectName: "downloadError"
            text: line.error
            color: Theme.red
            font.pixelSize: Theme.caption2
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Accessible.role: Accessible.AlertMessage
            Accessible.name: text
        }
        IconButton {
            symbol: "xmark"
            size: 10
            name: qsTr("Dismiss")
            tip: qsTr("Dismiss")
            Layout.alignment: Qt.AlignTop
            onClicked: line.downloads.dismissError()
        }
    }
}
