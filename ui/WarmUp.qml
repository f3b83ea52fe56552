import QtQuick
import QtQuick.Controls.Basic
import Dravlin

// The first drawing of a session shows text the window has not shown before: a narration in
// every letter, the thinking in italics, the model's name in semibold, the elapsed time's digits.
// Each glyph is rendered into the text cache the first time it appears, which on a software
// renderer stalled that first drawing for a tenth of a second. Shown once, out of sight, while the
// window is idle, this fills the cache beforehand.
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

    Column {
        Text { text: warmUp.sample; font.family: Theme.fontFamily; font.pixelSize: Theme.body }
        Text { text: warmUp.sample; font.family: Theme.fontFamily; font.pixelSize: Theme.caption; font.italic: true }
        Text { text: warmUp.sample; font.family: Theme.fontFamily; font.pixelSize: Theme.caption2; font.weight: Font.DemiBold }
        Text { text: "0123456789:"; font.family: "DejaVu Sans"; font.pixelSize: Theme.caption2 }
        TextEdit { text: warmUp.sample; font.family: Theme.fontFamily; font.pixelSize: Theme.body; readOnly: true }
        Spinner { size: 13 }
    }
}
