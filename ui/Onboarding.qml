import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// The two ways to start drawing, shown until there is a model to draw with.
ColumnLayout {
    id: onboarding

    required property ContentController content

    spacing: 16

    Label {
        textFormat: Text.PlainText
        text: qsTr("Two ways to draw")
        color: Theme.text
        font.pixelSize: Theme.headline
        font.weight: Font.DemiBold
        topPadding: 8
        Accessible.role: Accessible.Heading
    }

    ColumnLayout {
        spacing: 6
        Layout.fillWidth: true
        Row {
            spacing: 5
            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("Cloud models")
            Text {
                textFormat: Text.PlainText
                text: "☁️"
                font.family: Theme.emojiFamily
                font.pixelSize: Theme.headline
                anchors.verticalCenter: parent.verticalCenter
            }
            Label {
                textFormat: Text.PlainText
                text: qsTr("Cloud models")
                color: Theme.text
                font.pixelSize: Theme.subheadline + 1
                font.weight: Font.DemiBold
                anchors.verticalCenter: parent.verticalCenter
            }
        }
        Label {
            textFormat: Text.PlainText
            text: qsTr("Watch GPT, Claude, Gemini and more draw — on Dravlin Credit, no setup.")
            color: Theme.secondary
            font.pixelSize: Theme.caption
            wrapMode: Text.Wrap
            lineHeight: 1.15
            Layout.fillWidth: true
        }
        DButton {
            visible: !onboarding.content.account.signedIn
            kind: "prominent"
            text: onboarding.content.signInLabel
            Layout.topMargin: 2
            onClicked: onboarding.content.account.signIn(Window.window)
        }
        Label {
            textFormat: Text.PlainText
            visible: onboarding.content.account.signedIn
            text: qsTr("You're signed in: add cloud models from ⋯ → Get more models…")
            color: Theme.secondary
            font.pixelSize: Theme.caption
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    ColumnLayout {
        spacing: 6
        Layout.fillWidth: true
        Row {
            spacing: 5
            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("Local models")
            Text {
                textFormat: Text.PlainText
                text: "🖥️"
                font.family: Theme.emojiFamily
                font.pixelSize: Theme.headline
                anchors.verticalCenter: parent.verticalCenter
            }
            Label {
                textFormat: Text.PlainText
                text: qsTr("Local models")
                color: Theme.text
                font.pixelSize: Theme.subheadline + 1
                font.weight: Font.DemiBold
                anchors.verticalCenter: parent.verticalCenter
            }
        }
        Label {
            textFormat: Text.PlainText
            text: qsTr("Free, private, offline — install Ollama and pull a model. Slow is part of the charm.")
            color: Theme.secondary
            font.pixelSize: Theme.caption
            wrapMode: Text.Wrap
            lineHeight: 1.15
            Layout.fillWidth: true
        }
        RowLayout {
            spacing: 12
            Layout.topMargin: 2
            DButton {
                text: qsTr("Get Ollama")
                textColor: Theme.accent
                Accessible.role: Accessible.Link
                onClicked: onboarding.content.openLink(onboarding.content.ollamaURL)
            }
            DButton {
                objectName: "retry"
                kind: "bordered"
                text: qsTr("Retry")
                onClicked: onboarding.content.session.catalog.refreshModels()
            }
        }
    }
}
