import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// Who drawings are published as, or the way to sign in.
ColumnLayout {
    id: footer

    required property ContentController content
    readonly property DravlinAccount account: content.account

    spacing: 6

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: 1
        color: Theme.white(0.1)
    }

    RowLayout {
        visible: footer.account.signedIn
        Layout.fillWidth: true
        spacing: 8
        Label {
            textFormat: Text.PlainText
            text: footer.content.footerIdentity
            color: Theme.secondary
            font.pixelSize: Theme.caption2
            elide: Text.ElideRight
            maximumLineCount: 1
            Layout.fillWidth: true
        }
        DButton {
            text: qsTr("Sign out")
            font.pixelSize: Theme.caption2
            onClicked: footer.account.signOut()
        }
    }

    RowLayout {
        visible: !footer.account.signedIn
        Layout.fillWidth: true
        spacing: 8
        DButton {
            text: footer.content.signInLabel
            textColor: Theme.accent
            onClicked: footer.account.signIn(Window.window)
        }
        Item {
            Layout.fillWidth: true
        }
        Label {
            textFormat: Text.PlainText
            text: qsTr("to publish your drawings")
            color: Theme.secondary
            font.pixelSize: Theme.caption2
        }
    }

    Label {
        textFormat: Text.PlainText
        visible: !footer.account.signedIn && footer.account.authError !== ""
        text: footer.account.authError
        color: Theme.red
        font.pixelSize: Theme.caption2
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
