import QtQuick
import QtQuick.Controls.impl

// One of the window's symbols (ui/icons/<name>.svg), tinted, rendered at its display size so
// it stays sharp at any scale.
IconImage {
    property string symbol
    property int size: 12

    source: symbol ? Qt.resolvedUrl("icons/" + symbol + ".svg") : ""
    sourceSize.width: size
    sourceSize.height: size
    width: size
    height: size
    color: Theme.text
    Accessible.ignored: true
}
