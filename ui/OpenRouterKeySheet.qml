import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// Entering, replacing or removing the user's own OpenRouter key. The key goes straight to the
// secret store; the account's flag is read back from it.
Sheet {
    id: sheet

    required property ContentController content
    readonly property DravlinAccount account: content.account

    title: qsTr("OpenRouter key")
    width: 400

    contentItem: ColumnLayout {
        spacing: 10

        Label {
            textFormat: Text.PlainText
            text: sheet.title
            color: Theme.text
            font.pixelSize: Theme.headline
            font.weight: Font.DemiBold
            Accessible.role: Accessible.Heading
        }
        Label {
            textFormat: Text.PlainText
            text: qsTr("Draw with frontier models (GPT, Claude, Gemini…) on your own OpenRouter account — just like bringing your key on %1.")
                  .arg(sheet.content.serviceHost) + " " + sheet.content.keyStorageNote
            color: Theme.secondary
            font.pixelSize: Theme.caption
            wrapMode: Text.Wrap
            lineHeight: 1.15
            Layout.fillWidth: true
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        TextField {
            id: keyField
            objectName: "key"
            TapHandler {
                acceptedButtons: Qt.RightButton
                onTapped: (point) => keyFieldEditMenu.openAt(point.position)
            }
            EditMenu {
                id: keyFieldEditMenu
                target: keyField
            }
            // The stored key, masked, so it can be checked or replaced.
            text: sheet.account.openRouterKey()
            echoMode: TextInput.Password
            passwordCharacter: "•"
            placeholderText: "sk-or-…"
            color: Theme.text
            font.pixelSize: Theme.body
            leftPadding: 8
            focus: true
            Layout.fillWidth: true
            background: Rectangle {
                implicitHeight: 28
                radius: 6
                color: Theme.white(0.06)
                border.width: 1
                border.color: keyField.activeFocus ? Theme.accent : Theme.white(0.15)
            }
            Accessible.name: qsTr("OpenRouter key")
            onAccepted: if (save.enabled) save.clicked()
        }
        RowLayout {
            spacing: 8
            Layout.fillWidth: true
            DButton {
                text: qsTr("Get a key")
                textColor: Theme.accent
                Accessible.role: Accessible.Link
                onClicked: sheet.content.openLink("https://openrouter.ai/keys")
            }
            Item {
                Layout.fillWidth: true
            }
            DButton {
                visible: sheet.account.hasOpenRouterKey
                kind: "bordered"
                tinted: true
                tint: Theme.red
                text: qsTr("Remove")
                onClicked: {
                    sheet.account.removeOpenRouterKey()
                    sheet.close()
                }
            }
            DButton {
                id: save
                objectName: "save"
                kind: "prominent"
                text: qsTr("Save")
                enabled: Formats.hasContent(keyField.text)
                onClicked: {
                    sheet.account.saveOpenRouterKey(keyField.text)
                    sheet.close()
                }
            }
        }
    }
}
