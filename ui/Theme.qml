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
    readonly property color installedMark: Qt.rgba(0.2, 0.84, 0.29, 0.7)
    readonly property color warningText: Qt.rgba(1, 0.62, 0.04, 0.8)

    // Text and surfaces: the window, its menus and pop-ups, and Qt's palette roles under them.
    readonly property color text: "white"
    readonly property color canvasBackdrop: "black"
    readonly property color popupBG: "#232127"
    readonly property color controlBG: "#2e2c33"
    readonly property color alternateBG: "#2a282e"
    readonly property color paletteLight: "#3a3840"
    readonly property color paletteMidlight: "#34323a"
    readonly property color paletteDark: "#1a191d"
    readonly property color shadow: "black"
    readonly property color sheetScrim: Qt.rgba(0, 0, 0, 0.45)
    // The sign-in window's own page-like face, and the canvas page's empty and failed states.
    readonly property color signInBG: "#1c1c1f"
    readonly property color signInText: "#c8c8cc"
    readonly property color signInAccent: "#ff2d78"
    readonly property color canvasPaper: "#f4f4f6"
    readonly property color canvasHint: "#3a3a40"
    readonly property color canvasError: "#d81b60"

    // The desktop's own face on macOS; elsewhere Inter, which reads much like it.
    readonly property string fontFamily: Qt.platform.os === "osx" ? Qt.application.font.family : "Inter" // qmllint disable
    readonly property string emojiFamily: Qt.platform.os === "osx" ? "Apple Color Emoji" : "Noto Color Emoji"
    readonly property string monoFamily: Qt.platform.os === "osx" ? "Menlo" : "DejaVu Sans Mono"
    // On macOS the window's content runs under its transparent title bar (app/macwindow.mm): the
    // sidebar's controls start below that strip, which moves the window and holds the traffic lights.
    readonly property int titleBarInset: Qt.platform.os === "osx" ? 28 : 0

    readonly property int caption3: 10
    readonly property int caption2: 11
    readonly property int caption: 12
    readonly property int subheadline: 12
    readonly property int body: 13
    readonly property int headline: 15
    readonly property int title: 20
    readonly property int wordmark: 24

    function white(alpha) {
        return Qt.rgba(1, 1, 1, alpha)
    }
}
