import QtQuick
import QtMultimedia

// A muted clip that repeats in place while the pointer rests on a link's
// thumbnail. It streams the video anew each time; destroying it stops the
// player and lets the stream go.
Item {
    id: preview
    property url source
    readonly property alias player: player

    objectName: "loopingPreview"

    // No audio output at all: the loop is silent and opens no sound device.
    MediaPlayer {
        id: player
        source: preview.source
        loops: MediaPlayer.Infinite
        videoOutput: output
    }
    VideoOutput {
        id: output
        anchors.fill: parent
        fillMode: VideoOutput.PreserveAspectCrop
    }

    Component.onCompleted: player.play()
    Component.onDestruction: {
        player.stop();
        player.source = "";
    }
}
