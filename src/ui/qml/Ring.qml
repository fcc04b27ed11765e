import QtQuick
import QtQuick.Controls.Basic

// Upload progress: an arc from the top, clockwise, over a faint track; a
// spinner while the size is not known (fraction undefined).
Item {
    id: ring
    property var fraction: undefined
    readonly property bool determinate: fraction !== undefined && fraction !== null
    property real shown: determinate ? Math.max(0.02, Math.min(1.0, fraction)) : 0
    implicitWidth: 18
    implicitHeight: 18

    Behavior on shown {
        NumberAnimation { duration: 250; easing.type: Easing.OutQuad }
    }
    onShownChanged: arc.requestPaint()

    readonly property Contour contour: Contour {}

    Canvas {
        id: arc
        anchors.fill: parent
        onPaint: {
            const ctx = getContext("2d");
            ctx.reset();
            const r = width / 2 - 1;
            ctx.lineWidth = 2;
            ctx.strokeStyle = ring.contour.line;
            ctx.beginPath();
            ctx.arc(width / 2, height / 2, r, 0, 2 * Math.PI);
            ctx.stroke();
            if (!ring.determinate)
                return;
            ctx.strokeStyle = "white";
            ctx.lineCap = "round";
            ctx.beginPath();
            ctx.arc(width / 2, height / 2, r, -Math.PI / 2, -Math.PI / 2 + 2 * Math.PI * ring.shown);
            ctx.stroke();
        }
    }
    BusyIndicator {
        anchors.fill: parent
        visible: !ring.determinate
        running: visible
        padding: 0
        // The style's own spinner is dark grey, lost on the dark surfaces the ring sits on.
        palette.dark: "white"
    }
}
