import QtQuick
import QtQuick.Window
import QtWebEngine

// The Dravlin service's sign-in page in a window of its own, opened and closed by WebAuthSession,
// which watches every navigation and keeps the page from leaving for the callback scheme. The page
// is the service's own, but it is still a web page: it opens no other window, its dialogs are
// dismissed, and it can't hand an address to another program.
Window {
    id: root

    // The shared sign-in profile, given at creation: a view's profile can't change later.
    required property WebEngineProfile profile

    title: qsTr("Sign in to Dravlin")
    width: 480
    height: 640
    minimumWidth: 360
    minimumHeight: 420
    color: Theme.signInBG

    // Which site the page comes from, always in view: the only address bar this window has.
    Rectangle {
        id: header
        anchors { left: parent.left; right: parent.right; top: parent.top }
        height: 34
        color: root.color

        Text {
            textFormat: Text.PlainText
            anchors { fill: parent; leftMargin: 12; rightMargin: 12 }
            verticalAlignment: Text.AlignVCenter
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideMiddle
            color: Theme.signInText
            font.pixelSize: Theme.body
            text: {
                const address = view.url.toString()
                if (address === "")
                    return ""
                try {
                    const url = new URL(address)
                    return (url.protocol === "https:" ? "" : url.protocol + "//") + url.host
                } catch (error) {
                    return address
                }
            }
        }
    }

    WebEngineView {
        id: view
        objectName: "signInView"
        anchors { left: parent.left; right: parent.right; top: header.bottom; bottom: parent.bottom }
        anchors { leftMargin: 6; rightMargin: 6; bottomMargin: 6 }
        profile: root.profile
        backgroundColor: Theme.text

        // The engine hands an address in a scheme it doesn't know (the callback's) to the desktop
        // rather than loading it, and asks navigationRequested first only as far as this policy
        // lets it: by default for a user's click alone, so a server redirect or a script would go
        // unseen. Allowing all of them brings every way there (redirect, script, refresh, link,
        // form) to navigationRequested, where the session takes the callback and refuses the
        // rest: nothing reaches the desktop.
        settings.unknownUrlSchemePolicy: WebEngineSettings.AllowAllUnknownUrlSchemes
        settings.javascriptCanOpenWindows: false
        settings.javascriptCanAccessClipboard: false
        settings.localContentCanAccessFileUrls: false
        settings.pluginsEnabled: false
        settings.navigateOnDropEnabled: false
        // A page that can't load ends the session (failed()), so there is nothing to show.
        settings.errorPageEnabled: false

        onNewWindowRequested: function(request) {
            // Left unhandled, the request opens nothing.
        }
        onJavaScriptDialogRequested: function(request) {
            request.accepted = true
            request.dialogReject()
        }
    }

    // While the first page loads there is something to look at, not an empty white box.
    property bool loadedOnce: false
    Connections {
        target: view
        function onLoadingChanged() {
            if (!view.loading)
                root.loadedOnce = true
        }
    }
    Rectangle {
        objectName: "signInLoading"
        anchors.fill: view
        visible: !root.loadedOnce
        color: root.color
        Accessible.role: Accessible.StaticText
        Accessible.name: loadingText.text

        Text {
            id: loadingText
            textFormat: Text.PlainText
            anchors.centerIn: parent
            color: Theme.signInText
            font.pixelSize: Theme.body
            text: qsTr("Loading the sign-in page…")
        }
        Rectangle {
            anchors { left: parent.left; top: parent.top }
            height: 2
            width: parent.width * Math.max(0.05, view.loadProgress / 100)
            color: Theme.signInAccent
        }
    }
}
