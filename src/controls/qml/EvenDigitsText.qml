import QtQuick

// A line of text whose digits all take the same width, so a running count
// does not shift what stands beside it. (Qt 6.4 text has no tabular-figures
// switch, and the desktop's font may have proportional digits.)
Row {
    id: line
    property string text
    property font font
    property color color: "white"

    FontMetrics {
        id: metrics
        font: line.font
    }
    readonly property real digitWidth: {
        let widest = 0;
        for (let d = 0; d <= 9; ++d)
            widest = Math.max(widest, metrics.advanceWidth(String(d)));
        return Math.ceil(widest);
    }

    Repeater {
        model: line.text.length
        Text {
            readonly property string glyph: line.text.charAt(index)
            readonly property bool digit: glyph >= "0" && glyph <= "9"
            text: glyph
            font: line.font
            color: line.color
            width: digit ? line.digitWidth : implicitWidth
            horizontalAlignment: Text.AlignHCenter
        }
    }
}
