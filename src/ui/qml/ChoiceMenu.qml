import QtQuick
import QtQuick.Controls.Basic

// A menu of check items built by the app ({kind, text, checked} entries:
// "current", "preset", "separator", "custom"), with an optional heading.
Popup {
    id: menu
    property var entries: []
    property string heading: ""
    signal chosen(var entry)

    readonly property Contour contour: Contour {}
    padding: 5
    background: Rectangle {
        color: "#1f1f26"
        radius: 8
        border.color: menu.contour.lineStrong
    }

    contentItem: Column {
        objectName: "menuItems"
        width: Math.max(180, implicitWidth)
        Text {
            visible: menu.heading !== ""
            text: menu.heading
            color: Qt.rgba(0.545, 0.545, 0.6, 1)
            font.pixelSize: 11
            font.weight: Font.DemiBold
            leftPadding: 8
            topPadding: 3
            bottomPadding: 4
        }
        Repeater {
            model: menu.entries
            delegate: Item {
                required property var modelData
                objectName: "menuEntry_" + modelData.text
                width: Math.max(180, row.implicitWidth + 16)
                height: modelData.kind === "separator" ? 9 : 24
                Rectangle {
                    visible: modelData.kind === "separator"
                    anchors.verticalCenter: parent.verticalCenter
                    width: parent.width
                    height: 1
                    color: menu.contour.line
                }
                Rectangle {
                    anchors.fill: parent
                    radius: 4
                    visible: modelData.kind !== "separator" && area.containsMouse
                    color: Qt.rgba(1, 1, 1, 0.1)
                }
                Row {
                    id: row
                    visible: modelData.kind !== "separator"
                    anchors.verticalCenter: parent.verticalCenter
                    leftPadding: 6
                    spacing: 4
                    Glyph {
                        name: "check"
                        size: 12
                        color: "white"
                        opacity: modelData.checked ? 1 : 0
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    Text {
                        text: modelData.text
                        color: "white"
                        font.pixelSize: 13
                    }
                }
                MouseArea {
                    id: area
                    anchors.fill: parent
                    hoverEnabled: true
                    enabled: modelData.kind !== "separator"
                    onClicked: {
                        menu.close();
                        menu.chosen(modelData);
                    }
                }
            }
        }
    }
}
