import QtQuick

// The first-use hint beside the pill: wrapped white text on the dark surface.
Rectangle {
    id: hint
    property alias text: label.text
    property real maxWidth: 300
    readonly property Contour contour: Contour {}

    width: label.width + 24
    height: label.height + 12
    radius: 10
    color: contour.surface
    border.width: 1
    border.color: contour.line

    Text {
        id: label
        x: 12
        y: 6
        width: Math.min(implicitWidth, hint.maxWidth - 24)
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
        color: "white"
        font.pixelSize: 12
    }
}
