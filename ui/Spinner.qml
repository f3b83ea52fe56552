import QtQuick

// A small indeterminate spinner: an arc turning on the render thread.
Item {
    id: spinner

    property int size: 14
    property color color: Theme.white(0.7)

    implicitWidth: size
    implicitHeight: size

    Canvas {
        id: arc
        anchors.fill: parent
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.lineWidth = Math.max(1.5, spinner.size / 8)
            ctx.lineCap = "round"
            ctx.strokeStyle = spinner.color
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, (Math.min(width, height) - ctx.lineWidth) / 2, 0, Math.PI * 1.5)
            ctx.stroke()
        }
        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
            running: spinner.visible
        }
    }
    Accessible.role: Accessible.Animation
    Accessible.name: "Working"
}
