import QtQuick
import QtQuick.Controls.Basic

// The stage's main action, filled with a tint.
AbstractButton {
    id: button
    property string glyph: ""
    property color tint: "white"
    property real labelSize: 14
    property string tip: ""

    hoverEnabled: true
    leftPadding: 14
    rightPadding: 14
    topPadding: 6
    bottomPadding: 6
    ToolTip.visible: hovered && tip !== ""
    ToolTip.text: tip
    ToolTip.delay: 600

    contentItem: Row {
        spacing: 7
        Glyph {
            visible: button.glyph !== ""
            name: button.glyph
            size: button.labelSize
            color: "white"
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: button.text
            color: "white"
            font.pixelSize: button.labelSize
            font.weight: Font.DemiBold
            anchors.verticalCenter: parent.verticalCenter
        }
    }
    background: Rectangle {
        radius: 8
        color: button.tint
        opacity: button.down ? 0.75 : (button.hovered ? 0.92 : 1.0)
    }
}
