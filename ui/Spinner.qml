import QtQuick

// A small indeterminate spinner: a ring of dots, the brightest stepping round it.
//
// Plain round dots whose opacity changes, never a painted or rotated picture: on a software
// renderer every new kind of drawing costs a shader compile, and the first drawing of a session
// would stall on it the moment the spinner appears.
Item {
    id: spinner

    property int size: 14
    property color color: Theme.white(0.7)

    readonly property int dots: 8
    readonly property real dotSize: Math.max(2, Math.round(spinner.size / 4.5))
    // Which dot is brightest; only ever an integer, so the dots change a few times a second
    // rather than on every frame.
    property int step

    implicitWidth: size
    implicitHeight: size

    Repeater {
        model: spinner.dots
        Rectangle {
            required property int index
            readonly property real angle: 2 * Math.PI * index / spinner.dots - Math.PI / 2
            readonly property real orbit: (spinner.size - spinner.dotSize) / 2
            x: Math.round(spinner.size / 2 + orbit * Math.cos(angle) - width / 2)
            y: Math.round(spinner.size / 2 + orbit * Math.sin(angle) - height / 2)
            width: spinner.dotSize
            height: spinner.dotSize
            radius: width / 2
            color: spinner.color
            // The brightest dot, then a tail fading behind it.
            opacity: 1 - 0.75 * ((spinner.step - index + spinner.dots) % spinner.dots) / (spinner.dots - 1)
        }
    }

    NumberAnimation on step {
        from: 0
        to: spinner.dots
        duration: 900
        loops: Animation.Infinite
        running: spinner.visible
    }

    Accessible.role: Accessible.Animation
    Accessible.name: qsTr("Working")
}
