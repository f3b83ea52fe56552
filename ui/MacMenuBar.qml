import QtQuick
import Qt.labs.platform as Platform
import Dravlin

// The Mac's menu bar, one per window. The system moves the items with the About and
// application-specific roles into the application menu, About first and "Check for Updates…"
// right after it, beside its own Hide and Quit. File, Edit and Window hold what every Mac
// application has; Edit acts on the focused text as that text's own context menu does.
Platform.MenuBar {
    id: bar

    readonly property Item text: {
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
            text: "About Dravlin"
            role: Platform.MenuItem.AboutRole
            onTriggered: DravlinApp.showAbout()
        }
        Platform.MenuItem {
            text: "Check for Updates…"
            role: Platform.MenuItem.ApplicationSpecificRole
            onTriggered: DravlinApp.checkForUpdates()
        }
    }
    Platform.Menu {
        title: "File"
        Platform.MenuItem {
            text: "New Window"
            shortcut: StandardKey.New
            onTriggered: DravlinApp.openWindow()
        }
        Platform.MenuItem {
            text: "Close Window"
            shortcut: StandardKey.Close
            onTriggered: bar.window.close()
        }
    }
    Platform.Menu {
        title: "Edit"
        Platform.MenuItem {
            text: "Undo"
            shortcut: StandardKey.Undo
            enabled: bar.editable && bar.text.canUndo === true
            onTriggered: bar.text.undo()
        }
        Platform.MenuItem {
            text: "Redo"
            shortcut: StandardKey.Redo
            enabled: bar.editable && bar.text.canRedo === true
            onTriggered: bar.text.redo()
        }
        Platform.MenuSeparator {}
        Platform.MenuItem {
            text: "Cut"
            shortcut: StandardKey.Cut
            enabled: bar.editable && bar.selection && !bar.secret
            onTriggered: bar.text.cut()
        }
        Platform.MenuItem {
            text: "Copy"
            shortcut: StandardKey.Copy
            enabled: bar.selection && !bar.secret
            onTriggered: bar.text.copy()
        }
        Platform.MenuItem {
            text: "Paste"
            shortcut: StandardKey.Paste
            enabled: bar.editable && bar.text.canPaste === true
            onTriggered: bar.text.paste()
        }
        Platform.MenuItem {
            text: "Select All"
            shortcut: StandardKey.SelectAll
            enabled: bar.text !== null
            onTriggered: bar.text.selectAll()
        }
    }
    Platform.Menu {
        title: "Window"
        Platform.MenuItem {
            text: "Minimize"
            shortcut: "Ctrl+M"
            onTriggered: bar.window.showMinimized()
        }
        Platform.MenuItem {
            text: "Zoom"
            onTriggered: bar.window.visibility === Window.Maximized ? bar.window.showNormal()
                                                                    : bar.window.showMaximized()
        }
        Platform.MenuSeparator {}
        Platform.MenuItem {
            text: "Bring All to Front"
            onTriggered: DravlinApp.bringAllToFront()
        }
    }
}
