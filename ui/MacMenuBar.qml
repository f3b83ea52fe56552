import QtQuick
import Qt.labs.platform as Platform
import Dravlin

// The Mac's menu bar, one per window. The system moves the items with the About and
// application-specific roles into the application menu, About first and "Check for Updates…"
// right after it, beside its own Hide and Quit. File, Edit and Window hold what every Mac
// application has; Edit acts on the focused text as that text's own context menu does.
Platform.MenuBar {
    id: bar

    // A TextInput or a TextEdit: they share these members, not a type.
    readonly property var text: {
        const item = bar.window ? bar.window.activeFocusItem : null
        return item && item.selectAll !== undefined ? item : null
    }
    readonly property bool editable: text !== null && text.readOnly === false
    readonly property bool secret: text !== null && text.echoMode !== undefined
                                   && text.echoMode !== TextInput.Normal
    readonly property bool selection: text !== null && text.selectedText !== ""

    Platform.Menu {
        title: "Dravlin"
        Platform.MenuItem {
            text: qsTr("About Dravlin")
            role: Platform.MenuItem.AboutRole
            onTriggered: DravlinApp.showAbout()
        }
        Platform.MenuItem {
            text: qsTr("Check for Updates…")
            role: Platform.MenuItem.ApplicationSpecificRole
            onTriggered: DravlinApp.checkForUpdates()
        }
    }
    Platform.Menu {
        title: qsTr("File")
        Platform.MenuItem {
            text: qsTr("New Window")
            shortcut: StandardKey.New // qmllint disable
            onTriggered: DravlinApp.openWindow()
        }
        Platform.MenuItem {
            text: qsTr("Close Window")
            shortcut: StandardKey.Close // qmllint disable
            onTriggered: bar.window.close()
        }
    }
    Platform.Menu {
        title: qsTr("Edit")
        Platform.MenuItem {
            text: qsTr("Undo")
            shortcut: StandardKey.Undo // qmllint disable
            enabled: bar.editable && bar.text.canUndo === true
            onTriggered: bar.text.undo()
        }
        Platform.MenuItem {
            text: qsTr("Redo")
            shortcut: StandardKey.Redo // qmllint disable
            enabled: bar.editable && bar.text.canRedo === true
            onTriggered: bar.text.redo()
        }
        Platform.MenuSeparator {}
        Platform.MenuItem {
            text: qsTr("Cut")
            shortcut: StandardKey.Cut // qmllint disable
            enabled: bar.editable && bar.selection && !bar.secret
            onTriggered: bar.text.cut()
        }
        Platform.MenuItem {
            text: qsTr("Copy")
            shortcut: StandardKey.Copy // qmllint disable
            enabled: bar.selection && !bar.secret
            onTriggered: bar.text.copy()
        }
        Platform.MenuItem {
            text: qsTr("Paste")
            shortcut: StandardKey.Paste // qmllint disable
            enabled: bar.editable && bar.text.canPaste === true
            onTriggered: bar.text.paste()
        }
        Platform.MenuItem {
            text: qsTr("Select All")
            shortcut: StandardKey.SelectAll // qmllint disable
            enabled: bar.text !== null
            onTriggered: bar.text.selectAll()
        }
    }
    Platform.Menu {
        title: qsTr("Window")
        Platform.MenuItem {
            text: qsTr("Minimize")
            shortcut: "Ctrl+M"
            onTriggered: bar.window.showMinimized()
        }
        Platform.MenuItem {
            text: qsTr("Zoom")
            onTriggered: bar.window.visibility === Window.Maximized ? bar.window.showNormal()
                                                                    : bar.window.showMaximized()
        }
        Platform.MenuSeparator {}
        Platform.MenuItem {
            text: qsTr("Bring All to Front")
            onTriggered: DravlinApp.bringAllToFront()
        }
    }
}
