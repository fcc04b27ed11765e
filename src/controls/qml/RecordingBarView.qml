import QtQuick
import QtQuick.Controls.Basic

// The recording bar's content: the pill with the controls of the phase and,
// on the first recordings, a hint on the side away from the bubble. `backend`
// decides every text; this view keeps only its own passing state.
Item {
    id: view
    required property QtObject backend
    // Multiplies every wait and animation of the view, so tests run them fast.
    property real timeScale: 1.0

    property bool pulse: false
    property bool hintVisible: false
    property bool confirmDiscard: false

    readonly property Contour contour: Contour {}
    readonly property bool above: backend.edge === "aboveBubble"
    readonly property string phase: backend.phase
    readonly property bool hintShown: hintVisible && phase === "recording"

    implicitWidth: 300
    implicitHeight: backend.showHint ? 124 : 56

    function finish() {
        backend.done();
    }
    function discardClicked() {
        if (confirmDiscard) {
            backend.discard();
            return;
        }
        confirmDiscard = true;
        disarm.restart();
    }

    Component.onCompleted: {
        if (backend.showHint) {
            hintVisible = true;
            hintEnd.start();
        }
    }
    Timer {
        id: hintEnd
        interval: 10000 * view.timeScale
        onTriggered: view.hintVisible = false
    }
    Timer {
        id: disarm
        interval: 4000 * view.timeScale
        onTriggered: view.confirmDiscard = false
    }
    Shortcut {
        sequence: "Return"
        enabled: view.phase === "recording"
        onActivated: view.finish()
    }

    component FadingHint: BarHint {
        anchors.horizontalCenter: parent.horizontalCenter
        maxWidth: view.width
        text: view.backend.hintText
        opacity: view.hintShown ? 1 : 0
        visible: opacity > 0
        Behavior on opacity {
            NumberAnimation { duration: 350 * view.timeScale; easing.type: Easing.InOutQuad }
        }
    }

    Column {
        id: stack
        width: view.width
        spacing: 6
        topPadding: 2
        bottomPadding: 2
        // The pill keeps to the bubble's side of the window.
        y: view.above ? view.height - height : 0

        FadingHint {
            objectName: "hintAbove"
            opacity: view.hintShown && view.above ? 1 : 0
        }
        Rectangle {
            id: pill
            objectName: "pill"
            visible: view.phase !== "idle"
            // A long recording with the discard armed can be wider than the
            // bar: it is drawn smaller, and shifted towards the bubble only as
            // far as it stays whole.
            readonly property real fit: Math.min(1, (view.width - 4) / width)
            readonly property real room: Math.max(0, (view.width - 4 - width * fit) / 2)
            scale: fit
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.horizontalCenterOffset: Math.max(-room, Math.min(room, view.backend.pillOffset))
            width: content.width + 28
            height: content.height + 14
            radius: height / 2
            color: view.contour.surface
            border.width: 1
            border.color: view.contour.lineStrong

            Row {
                id: content
                x: 14
                y: 7
                spacing: 10

                Rectangle {
                    id: dot
                    objectName: "recordingDot"
                    visible: view.phase === "recording"
                    anchors.verticalCenter: parent.verticalCenter
                    width: 10
                    height: 10
                    radius: 5
                    color: view.contour.live
                    opacity: 0.25
                    onVisibleChanged: if (visible) view.pulse = true
                    Component.onCompleted: if (visible) view.pulse = true
                    SequentialAnimation on opacity {
                        objectName: "pulseAnimation"
                        running: view.pulse && dot.visible
                        loops: Animation.Infinite
                        NumberAnimation { from: 0.25; to: 1.0; duration: 800 * view.timeScale; easing.type: Easing.InOutQuad }
                        NumberAnimation { from: 1.0; to: 0.25; duration: 800 * view.timeScale; easing.type: Easing.InOutQuad }
                    }
                }
                EvenDigitsText {
                    objectName: "elapsedText"
                    visible: view.phase === "recording"
                    anchors.verticalCenter: parent.verticalCenter
                    text: view.backend.elapsed
                    font.pixelSize: 15
                    font.weight: Font.DemiBold
                }
                DoneButton {
                    id: doneButton
                    objectName: "doneButton"
                    visible: view.phase === "recording"
                    anchors.verticalCenter: parent.verticalCenter
                    onClicked: view.finish()
                    WindowTip {
                        target: doneButton
                        backend: view.backend
                        timeScale: view.timeScale
                        text: "Stop and upload. The link copies itself."
                    }
                }
                QuietButton {
                    id: discardButton
                    objectName: "discardButton"
                    visible: view.phase === "recording"
                    anchors.verticalCenter: parent.verticalCenter
                    glyph: "trash"
                    text: view.confirmDiscard ? "Discard?" : ""
                    destructive: view.confirmDiscard
                    onClicked: view.discardClicked()
                    WindowTip {
                        target: discardButton
                        backend: view.backend
                        timeScale: view.timeScale
                        text: "Throw this recording away. Nothing is uploaded."
                    }
                }

                Ring {
                    objectName: "uploadRing"
                    visible: view.phase === "uploading"
                    anchors.verticalCenter: parent.verticalCenter
                    fraction: view.backend.uploadFraction
                }
                EvenDigitsText {
                    objectName: "uploadText"
                    visible: view.phase === "uploading"
                    anchors.verticalCenter: parent.verticalCenter
                    text: view.backend.uploadText
                    // The window less the pill's padding and border, the ring and the spacing.
                    maxWidth: view.width - 64
                    font.pixelSize: 13
                    font.weight: Font.Medium
                }

                Text {
                    objectName: "startingText"
                    visible: view.phase === "starting"
                    text: "Starting…"
                    color: "white"
                    opacity: 0.8
                    font.pixelSize: 13
                }
                BusyIndicator {
                    objectName: "finishingSpinner"
                    visible: view.phase === "finishing"
                    running: visible
                    anchors.verticalCenter: parent.verticalCenter
                    implicitWidth: 16
                    implicitHeight: 16
                    padding: 0
                    palette.dark: "white"
                }
                Text {
                    objectName: "finishingText"
                    visible: view.phase === "finishing"
                    anchors.verticalCenter: parent.verticalCenter
                    text: "Finishing…"
                    color: "white"
                    opacity: 0.8
                    font.pixelSize: 13
                }
            }
        }
        FadingHint {
            objectName: "hintBelow"
            opacity: view.hintShown && !view.above ? 1 : 0
        }
    }
}
