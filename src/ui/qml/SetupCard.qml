import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The first-run card: the steps this machine still needs, one at a time.
// `setup` decides every text; this only binds. Measured again every second
// while it shows and whenever the app comes back to the front.
Rectangle {
    id: card
    property bool camera: true
    property bool microphone: true
    property var model: setup.cardData(camera, microphone)
    readonly property color fg: Qt.rgba(0.95, 0.95, 0.96, 1)
    readonly property color muted: Qt.rgba(0.545, 0.545, 0.6, 1)
    readonly property Contour contour: Contour {}

    function reload() { model = setup.cardData(camera, microphone) }
    onCameraChanged: reload()
    onMicrophoneChanged: reload()
    Connections {
        target: setup
        function onChanged() { card.reload() }
    }
    Connections {
        target: Qt.application
        function onStateChanged() {
            if (Qt.application.state === Qt.ApplicationActive)
                setup.refreshNow()
        }
    }
    Timer {
        interval: 1000
        repeat: true
        running: card.visible
        onTriggered: setup.refreshNow()
    }

    visible: model.shown
    radius: 12
    color: contour.surface
    border.color: contour.line
    implicitHeight: column.implicitHeight + 28

    ColumnLayout {
        id: column
        x: 14
        y: 14
        width: parent.width - 28
        spacing: 12

        RowLayout {
            Layout.fillWidth: true
            Text {
                text: "Set up Mivra Video"
                color: card.fg
                font.pixelSize: 13
                font.weight: Font.DemiBold
            }
            Item { Layout.fillWidth: true }
            Text {
                objectName: "setupHeader"
                text: card.model.header
                color: card.muted
                font.pixelSize: 11
            }
        }

        Repeater {
            model: card.model.rows
            delegate: RowLayout {
                required property var modelData
                Layout.fillWidth: true
                spacing: 10

                Rectangle {
                    Layout.alignment: Qt.AlignTop
                    Layout.topMargin: 1
                    implicitWidth: 18
                    implicitHeight: 18
                    radius: 9
                    color: modelData.done ? card.fg : "transparent"
                    border.width: modelData.done ? 0 : 1.5
                    border.color: card.muted
                    Text {
                        anchors.centerIn: parent
                        text: modelData.done ? "✓" : modelData.number
                        color: modelData.done ? "black" : card.fg
                        font.pixelSize: modelData.done ? 10 : 10
                        font.weight: modelData.done ? Font.Bold : Font.DemiBold
                    }
                }

                ColumnLayout {
                    Layout.alignment: Qt.AlignTop
                    Layout.fillWidth: true
                    spacing: 3
                    Text {
                        text: modelData.title
                        color: card.fg
                        font.pixelSize: 13
                        font.weight: modelData.current ? Font.DemiBold : Font.Normal
                        Layout.fillWidth: true
                        wrapMode: Text.Wrap
                    }
                    Text {
                        visible: modelData.detail !== ""
                        text: modelData.detail
                        color: card.muted
                        font.pixelSize: 11
                        Layout.fillWidth: true
                        wrapMode: Text.Wrap
                    }
                    Text {
                        visible: modelData.note !== ""
                        Layout.topMargin: 2
                        text: modelData.note
                        color: Qt.rgba(card.muted.r, card.muted.g, card.muted.b, 0.7)
                        font.pixelSize: 11
                        Layout.fillWidth: true
                        wrapMode: Text.Wrap
                    }
                }

                SmallButton {
                    visible: modelData.button !== ""
                    Layout.alignment: Qt.AlignTop
                    text: modelData.button
                    enabled: !setup.installBusy
                    onClicked: setup.press(modelData.step)
                }
            }
        }
    }
}
