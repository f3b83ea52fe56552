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
    palette.window: Theme.popupBG
    palette.windowText: Theme.text
    palette.base: Theme.popupBG
    palette.alternateBase: Theme.alternateBG
    palette.text: Theme.text
    palette.button: Theme.controlBG
    palette.buttonText: Theme.text
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.text
    palette.light: Theme.paletteLight
    palette.midlight: Theme.paletteMidlight
    palette.mid: Theme.alternateBG
    palette.dark: Theme.paletteDark
    palette.shadow: Theme.shadow
    palette.toolTipBase: Theme.controlBG
    palette.toolTipText: Theme.text
    palette.placeholderText: Theme.secondary

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
        sequences: [StandardKey.Quit] // qmllint disable
        context: Qt.ApplicationShortcut
        onActivated: DravlinApp.quit()
    }

    // Another window with a drawing, a model choice and an account of its own.
    Shortcut {
        sequences: [StandardKey.New] // qmllint disable
        context: Qt.WindowShortcut
        onActivated: DravlinApp.openWindow()
    }
}
