import QtQuick
import QtQuick.Controls.Basic
import Dravlin

ApplicationWindow {
    id: window
    width: 1180
    height: 760
    minimumWidth: 960
    minimumHeight: 620
    visible: true
    title: "Dravlin"
    color: Theme.sidebarBG
    font.family: Theme.fontFamily

    // Always dark, whatever the desktop's own setting.
    palette.window: "#232127"
    palette.windowText: "white"
    palette.base: "#232127"
    palette.alternateBase: "#2a282e"
    palette.text: "white"
    palette.button: "#2e2c33"
    palette.buttonText: "white"
    palette.highlight: Theme.accent
    palette.highlightedText: "white"
    palette.light: "#3a3840"
    palette.midlight: "#34323a"
    palette.mid: "#2a282e"
    palette.dark: "#1a191d"
    palette.shadow: "black"
    palette.toolTipBase: "#2e2c33"
    palette.toolTipText: "white"
    palette.placeholderText: Qt.rgba(1, 1, 1, 0.55)

    // The window's state and rules, made by the application with the window.
    required property ContentController content

    ContentView {
        anchors.fill: parent
        content: window.content
    }

    // The Mac's menu bar; elsewhere the update check lives in the window's ⋯ menu and the
    // shortcuts below stand in for the bar's.
    readonly property bool macMenuBar: Qt.platform.os === "osx"
    Loader {
        active: window.macMenuBar
        source: "MacMenuBar.qml"
        onLoaded: item.window = window
    }

    Shortcut {
        // What GNOME and KDE close a window with, whatever the platform theme's bindings say.
        objectName: "closeWindowKeys"
        sequence: "Ctrl+W"
        enabled: !window.macMenuBar
        onActivated: window.close()
    }

    // Quitting asks first while a download runs.
    Shortcut {
        sequences: [StandardKey.Quit]
        context: Qt.ApplicationShortcut
        onActivated: DravlinApp.quit()
    }

    // Another window with a drawing, a model choice and an account of its own.
    Shortcut {
        sequences: [StandardKey.New]
        context: Qt.WindowShortcut
        onActivated: DravlinApp.openWindow()
    }
}
