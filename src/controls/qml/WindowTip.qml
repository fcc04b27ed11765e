import QtQuick

// Shows `text` in a tooltip window of its own once the pointer rests on
// `target` (a button), and hides it when the pointer leaves.
Timer {
    id: tip
    required property Item target
    required property string text
    required property QtObject backend
    property real timeScale: 1.0
    readonly property bool resting: target.hovered && target.visible

    interval: 600 * timeScale
    onRestingChanged: {
        if (resting) {
            restart();
        } else {
            stop();
            backend.hideTooltip();
        }
    }
    onTriggered: backend.showTooltip(text, target.mapToGlobal(target.width / 2, target.height + 4))
}
