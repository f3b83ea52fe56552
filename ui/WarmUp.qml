import QtQuick
import QtQuick.Controls.Basic
import Dravlin

// The first drawing of a session shows text the window has not shown before: a narration in
// every letter, the thinking in italics, the model's name in semibold, the elapsed time's digits.
// Each glyph is rendered into the text cache the first time it appears, which on a software
// renderer stalled that first drawing for a tenth of a second. Shown once, out of sight, while the
// window is idle, this fills the cache beforehand. The same goes for the running state's shapes (the
// Stop button, its keyboard ring, the prompt's bubble) and for all of it drawn within a clip.
Item {
    id: warmUp
    x: -10000
    width: 10
    height: 10

    readonly property string sample: {
        let letters = ""
        for (let c = 0x20; c < 0x7f; ++c)
            letters += String.fromCharCode(c)
        return letters + "…—–‘’“”·•×"
    }

    component Sample: Column {
        Text { text: warmUp.sample; font.family: Theme.fontFamily; font.pixelSize: Theme.body }
        Text { text: warmUp.sample; font.family: Theme.fontFamily; font.pixelSize: Theme.caption; font.italic: true }
        Text { text: warmUp.sample; font.family: Theme.fontFamily; font.pixelSize: Theme.caption2; font.weight: Font.DemiBold }
        Text { text: "0123456789:"; font.family: "DejaVu Sans"; font.pixelSize: Theme.caption2 }
        TextEdit { text: warmUp.sample; font.family: Theme.fontFamily; font.pixelSize: Theme.body; readOnly: true }
        Spinner { size: 13 }
        // A run's Stop button with its keyboard ring, and the prompt's bubble.
        DButton {
            kind: "bordered"
            small: false
            text: "Stop"
            focusPolicy: Qt.NoFocus
            Accessible.ignored: true
            FocusRing { shown: true }
        }
        Rectangle { width: 40; height: 20; radius: 12; color: Theme.white(0.08) }
    }

    Sample {}
    // Again within a clip, as the transcript draws them: on a software renderer that is another
    // kind of drawing again.
    Item {
        width: 10
        height: 10
        clip: true
        Sample {}
    }
}
