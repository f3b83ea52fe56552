import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// One recommended local model: what it is, and what can be done with it here (get it, follow its
// download, or see how much memory it needs and use it in the cloud instead).
RowLayout {
    id: recommended

    required property var row
    required property DrawSession session

    spacing: 10
    Accessible.role: Accessible.ListItem
    Accessible.name: row.title

    ColumnLayout {
        spacing: 2
        opacity: recommended.row.fits ? 1 : 0.4
        Layout.fillWidth: true

        RowLayout {
            spacing: 5
            Label {
                textFormat: Text.PlainText
                text: recommended.row.title
                color: "white"
                font.pixelSize: 12
                font.weight: Font.DemiBold
                elide: Text.ElideRight
                Layout.maximumWidth: 220
            }
            SymbolIcon {
                symbol: "cpu"
                size: 9
                color: Theme.tertiary
            }
            SymbolIcon {
                visible: recommended.row.cloudId !== ""
                symbol: "cloud"
                size: 9
                color: Theme.tertiary
            }
            Label {
                textFormat: Text.PlainText
                visible: text !== ""
                text: recommended.row.updated
                color: Theme.tertiary
                font.pixelSize: Theme.caption2
            }
        }
        Label {
            textFormat: Text.PlainText
            text: recommended.row.name
            color: Theme.tertiary
            font.family: Theme.monoFamily
            font.pixelSize: 10
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }

    // Downloading: the progress, and a way to stop it.
    RowLayout {
        visible: recommended.row.action === "progress"
        spacing: 6
        ProgressBar {
            id: progress
            from: 0
            to: 1
            value: recommended.session.downloads.pulling[recommended.row.name] ?? 0
            implicitWidth: 64
            implicitHeight: 4
            background: Rectangle {
                radius: 2
                color: Theme.white(0.12)
            }
            contentItem: Item {
                Rectangle {
                    width: progress.visualPosition * parent.width
                    height: parent.height
                    radius: 2
                    color: Theme.accent
                }
            }
            Accessible.role: Accessible.ProgressBar
            Accessible.name: qsTr("Downloading %1").arg(recommended.row.name)
        }
        IconButton {
            symbol: "xmark.circle.fill"
            size: 14
            name: qsTr("Cancel download of %1").arg(recommended.row.name)
            tip: qsTr("Cancel download")
            onClicked: recommended.session.downloads.cancelPull(recommended.row.name)
        }
    }

    DButton {
        visible: recommended.row.action === "get"
        kind: "bordered"
        text: recommended.row.getLabel
        Accessible.name: text + " " + recommended.row.name
        onClicked: recommended.session.downloads.pull(recommended.row.name)
    }

    RowLayout {
        visible: recommended.row.action === "needs"
        spacing: 8
        Label {
            textFormat: Text.PlainText
            text: recommended.row.needsLabel
            color: Theme.tertiary
            font.pixelSize: Theme.caption2
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        DButton {
            visible: recommended.row.cloudId !== ""
            kind: "bordered"
            tinted: true
            tint: recommended.row.cloudEnabled ? Theme.green : Theme.accent
            text: recommended.row.cloudLabel
            Accessible.name: (recommended.row.cloudEnabled ? qsTr("Remove cloud %1") : qsTr("Add cloud %1")).arg(recommended.row.title)
            onClicked: recommended.session.toggleCloud(recommended.row.cloudId)
        }
    }
}
