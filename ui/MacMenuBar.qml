import QtQuick
import Qt.labs.platform as Platform
import Dravlin

// The Mac's menu bar: its application menu gains "Check for Updates…", which the system places
// with the application's own items, after About. The rest of the bar is the platform's default.
Platform.MenuBar {
    Platform.Menu {
        title: "Dravlin"
        Platform.MenuItem {
            text: "Check for Updates…"
            role: Platform.MenuItem.ApplicationSpecificRole
            onTriggered: DravlinApp.checkForUpdates()
        }
    }
}
