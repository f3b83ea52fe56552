import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// One recommended local model: what it is, and what can be done with it here (get it, follow its
// download, or see how much memory it needs and use it in the cloud instead).
RowLayout {
    id: recommended

    required property DrawSession session
    required property string name
    required property string title
    required property string updated
    required property string cloudId
    required property bool fits
    required property string action
    required property string getLabel
    required property string needsLabel
    required property bool cloudEnabled
    required property string cloudLabel
    required property real fraction

    spacing: 10
    Accessible.role: Accessible.ListItem
    Accessible.name: title

    ColumnLayout {
        spacing: 2
        opacity: recommended.fits ? 1 : 0.4
        Layout.fillWidth: true

        RowLayout {
            spacing: 5
            Label {
                textFormat: Text.PlainText
                text: recommended.title
                color: Theme.text
                font.pixelSize: Theme.caption
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
                visible: recommended.cloudId !== ""
                symbol: "cloud"
                size: 9
                color: Theme.tertiary
            }
            Label {
                textFormat: Text.PlainText
                visible: text !== ""
                text: recommended.updated
                color: Theme.tertiary
                font.pixelSize: Theme.caption2
            }
        }
        Label {
            textFormat: Text.PlainText
            text: recommended.name
            color: Theme.tertiary
            font.family: Theme.monoFamily
            font.pixelSize: Theme.caption3
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }

    // Downloading: the progress, and a way to stop it.
    RowLayout {
        visible: recommended.action === "progress"
        spacing: 6
        ProgressBar {
            id: progress
            from: 0
            to: 1
            value: recommended.fraction
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
            Accessible.name: qsTr("Downloading %1").arg(recommended.name)
        }
        IconButton {
            symbol: "xmark.circle.fill"
            size: 14
            name: qsTr("Cancel download of %1").arg(recommended.name)
            tip: qsTr("Cancel download")
            onClicked: recommended.session.downloads.cancelPull(recommended.name)
        }
    }

    DButton {
        visible: recommended.action === "get"
        kind: "bordered"
        text: recommended.getLabel
        Accessible.name: text + " " + recommended.name
        onClicked: recommended.session.downloads.pull(recommended.name)
    }

    RowLayout {
        visible: recommended.action === "needs"
        spacing: 8
        Label {
            textFormat: Text.PlainText
            text: recommended.needsLabel
            color: Theme.tertiary
            font.pixelSize: Theme.caption2
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        DButton {
            visible: recommended.cloudId !== ""
            kind: "bordered"
            tinted: true
            tint: recommended.cloudEnabled ? Theme.green : Theme.accent
            text: recommended.cloudLabel
            Accessible.name: (recommended.cloudEnabled ? qsTr("Remove cloud %1") : qsTr("Add cloud %1")).arg(recommended.title)
            onClicked: recommended.session.catalog.toggleCloud(recommended.cloudId)
        }
    }
}
