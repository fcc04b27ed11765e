import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The download the installation could not throw away, until it is gone.
Rectangle {
    id: note
    readonly property color fg: Qt.rgba(0.95, 0.95, 0.96, 1)
    readonly property color muted: Qt.rgba(0.545, 0.545, 0.6, 1)
    readonly property Contour contour: Contour {}

    visible: setup.leftover !== ""
    radius: 12
    color: contour.surface
    border.color: contour.line
    implicitHeight: column.implicitHeight + 28

    ColumnLayout {
        id: column
        x: 14
        y: 14
        width: parent.width - 28
        spacing: 6
        Text {
            text: "One more copy to throw away"
            color: note.fg
            font.pixelSize: 13
            font.weight: Font.DemiBold
        }
        Text {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: "The download in " + setup.leftoverFolder
                  + " couldn't be removed. Move it to the Trash so the desktop only sees this one."
            color: note.muted
            font.pixelSize: 11
        }
        RowLayout {
            Layout.topMargin: 4
            spacing: 8
            SmallButton {
                text: "Show in Files"
                onClicked: setup.revealLeftoverNow()
            }
            SmallButton {
                text: "Done"
                onClicked: setup.dismissLeftoverNow()
            }
        }
    }
}
