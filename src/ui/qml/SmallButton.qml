import QtQuick
import QtQuick.Controls.Basic

// A small bordered button: a glyph, a text, or both, with a tooltip.
AbstractButton {
    id: button
    property string glyph: ""
    property string tip: ""
    property bool plain: false
    property real glyphSize: 13
    property color ink: "white"
    readonly property Contour contour: Contour {}

    hoverEnabled: true
    padding: plain ? 2 : 5
    leftPadding: plain ? 2 : (text === "" ? 6 : 10)
    rightPadding: leftPadding
    font.pixelSize: 12

    ToolTip.visible: hovered && tip !== ""
    ToolTip.text: tip
    ToolTip.delay: 600

    contentItem: Row {
        spacing: 5
        Glyph {
            visible: button.glyph !== ""
            name: button.glyph
            size: button.glyphSize
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
        visible: !button.plain
        radius: 6
        color: button.down ? Qt.rgba(1, 1, 1, 0.16) : (button.hovered ? Qt.rgba(1, 1, 1, 0.1) : Qt.rgba(1, 1, 1, 0.05))
        border.color: button.contour.lineStrong
        border.width: 1
    }
}
