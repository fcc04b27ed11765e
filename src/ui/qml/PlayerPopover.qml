import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtMultimedia

// The full player a click on a thumbnail opens: sound on, plays at once,
// with a play/pause button, a position slider and the time.
Rectangle {
    id: popover
    property url source
    readonly property alias player: player
    readonly property alias audio: audio
    readonly property bool playing: player.playbackState === MediaPlayer.PlayingState

    objectName: "playerPopover"
    implicitWidth: 480
    implicitHeight: 300
    color: "black"

    function clock(ms) {
        const s = Math.max(0, Math.floor(ms / 1000));
        return Math.floor(s / 60) + ":" + String(s % 60).padStart(2, "0");
    }

    MediaPlayer {
        id: player
        source: popover.source
        videoOutput: output
        audioOutput: AudioOutput { id: audio }
    }
    VideoOutput {
        id: output
        anchors.fill: parent
        fillMode: VideoOutput.PreserveAspectFit
    }
    TapHandler {
        onTapped: popover.playing ? player.pause() : player.play()
    }

    // The controls sit on a soft shade along the bottom edge.
    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 40
        gradient: Gradient {
            GradientStop { position: 0; color: "transparent" }
            GradientStop { position: 1; color: Qt.rgba(0, 0, 0, 0.7) }
        }
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 10
            anchors.rightMargin: 12
            spacing: 8
            Item {
                objectName: "playPause"
                Layout.preferredWidth: 22
                Layout.preferredHeight: 22
                Accessible.role: Accessible.Button
                Accessible.name: popover.playing ? "Pause" : "Play"
                Canvas {
                    id: playGlyph
                    anchors.centerIn: parent
                    width: 14
                    height: 14
                    property bool playing: popover.playing
                    onPlayingChanged: requestPaint()
                    onPaint: {
                        const c = getContext("2d");
                        c.reset();
                        c.fillStyle = "white";
                        if (playing) {
                            c.fillRect(2, 1, 3.5, 12);
                            c.fillRect(8.5, 1, 3.5, 12);
                        } else {
                            c.beginPath();
                            c.moveTo(2.5, 1);
                            c.lineTo(13, 7);
                            c.lineTo(2.5, 13);
                            c.closePath();
                            c.fill();
                        }
                    }
                }
                TapHandler {
                    onTapped: popover.playing ? player.pause() : player.play()
                }
            }
            Slider {
                id: seek
                objectName: "position"
                Layout.fillWidth: true
                from: 0
                to: Math.max(1, player.duration)
                enabled: player.seekable
                value: player.position
                onMoved: player.position = value
            }
            Text {
                text: popover.clock(player.position) + " / " + popover.clock(player.duration)
                color: "white"
                font.pixelSize: 11
            }
        }
    }

    Component.onCompleted: player.play()
    // Closing the popover pauses and lets the player and its stream go.
    Component.onDestruction: {
        player.pause();
        player.source = "";
    }
}
