pragma Singleton
import QtQuick

// The window's colours and type sizes, named once. Sizes are in device-independent pixels.
QtObject {
    readonly property color accent: Qt.rgba(1.0, 0.18, 0.47, 1)
    readonly property color sidebarBG: Qt.rgba(0.075, 0.07, 0.085, 1)
    readonly property color secondary: Qt.rgba(1, 1, 1, 0.55)
    readonly property color tertiary: Qt.rgba(1, 1, 1, 0.38)
    readonly property color modelName: Qt.rgba(0.98, 0.6, 0.75, 1)
    readonly property color green: "#32d74b"
    readonly property color red: "#ff453a"
    readonly property color orange: "#ff9f0a"

    // The desktop's own face on macOS; elsewhere Inter, which reads much like it.
    readonly property string fontFamily: Qt.platform.os === "osx" ? Qt.application.font.family : "Inter"
    readonly property string emojiFamily: Qt.platform.os === "osx" ? "Apple Color Emoji" : "Noto Color Emoji"
    readonly property string monoFamily: Qt.platform.os === "osx" ? "Menlo" : "DejaVu Sans Mono"
    // On macOS the window's content runs under its transparent title bar (app/macwindow.mm): the
    // sidebar's controls start below that strip, which moves the window and holds the traffic lights.
    readonly property int titleBarInset: Qt.platform.os === "osx" ? 28 : 0

    readonly property int caption2: 11
    readonly property int caption: 12
    readonly property int subheadline: 12
    readonly property int body: 13
    readonly property int headline: 15

    function white(alpha) {
        return Qt.rgba(1, 1, 1, alpha)
    }
}
