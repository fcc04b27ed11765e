import QtQuick
import QtQuick.Controls.Basic

// `QuietButtonStyle`: a bordered capsule, red when `destructive`; the whole
// capsule takes the click.
AbstractButton {
    id: button
    property bool destructive: false
    property string glyph: ""
    readonly property Contour contour: Contour {}
    readonly property color ink: destructive ? contour.live : "white"

    hoverEnabled: true
    leftPadding: 10
    rightPadding: 10
    topPadding: 7
    bottomPadding: 7
    font.pixelSize: 13
    font.weight: Font.Medium

    contentItem: Row {
        spacing: 5
        Glyph {
            visible: button.glyph !== ""
            name: button.glyph
            size: 14
            color: button.ink
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            visible: button.text !== ""
            text: button.text
            font: button.font
            color: button.ink
            anchors.verticalCenter: parent.verticalCenter
        }
    }
    background: Rectangle {
        radius: height / 2
        color: button.down ? Qt.rgba(1, 1, 1, 0.12) : "transparent"
        border.width: 1
        border.color: button.destructive ? button.contour.live : button.contour.lineStrong
    }
}
