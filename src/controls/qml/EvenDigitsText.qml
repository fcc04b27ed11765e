import QtQuick

// A line of text whose digits all take the same width, so a running count
// does not shift what stands beside it. (Qt 6.4 text has no tabular-figures
// switch, and the desktop's font may have proportional digits.) A line wider
// than `maxWidth` is set smaller rather than overflowing the bar.
Row {
    id: line
    property string text
    property font font
    property color color: "white"
    property real maxWidth: Infinity

    function widestDigit(metrics) {
        let widest = 0;
        for (let d = 0; d <= 9; ++d)
            widest = Math.max(widest, metrics.advanceWidth(String(d)));
        return Math.ceil(widest);
    }
    function lineWidth(metrics) {
        const digit = widestDigit(metrics);
        let total = 0;
        for (const glyph of text)
            total += glyph >= "0" && glyph <= "9" ? digit : metrics.advanceWidth(glyph);
        return total;
    }

    FontMetrics {
        id: wanted
        font: line.font
    }
    readonly property real wantedWidth: lineWidth(wanted)
    readonly property font shownFont: wantedWidth <= maxWidth ? font : Qt.font({
        family: font.family,
        weight: font.weight,
        pixelSize: Math.max(6, Math.floor(font.pixelSize * maxWidth / wantedWidth))
    })
    FontMetrics {
        id: shown
        font: line.shownFont
    }
    readonly property real digitWidth: widestDigit(shown)

    Repeater {
        model: line.text.length
        Text {
            readonly property string glyph: line.text.charAt(index)
            readonly property bool digit: glyph >= "0" && glyph <= "9"
            text: glyph
            font: line.shownFont
            color: line.color
            width: digit ? line.digitWidth : implicitWidth
            horizontalAlignment: Text.AlignHCenter
        }
    }
}
