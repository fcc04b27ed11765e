import QtQuick
import QtQuick.Controls.Basic

// `DoneButtonStyle`: a filled capsule in the live colour; the whole capsule
// takes the click.
AbstractButton {
    id: button
    readonly property Contour contour: Contour {}

    text: "Done"
    hoverEnabled: true
    leftPadding: 14
    rightPadding: 14
    topPadding: 7
    bottomPadding: 7
    font.pixelSize: 14
    font.weight: Font.DemiBold

    contentItem: Row {
        spacing: 5
        Glyph {
            name: "check"
            size: 14
            color: "white"
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: button.text
            font: button.font
            color: "white"
            anchors.verticalCenter: parent.verticalCenter
        }
    }
    background: Rectangle {
        radius: height / 2
        color: button.contour.live
        opacity: button.down ? 0.75 : 1.0
    }
}
