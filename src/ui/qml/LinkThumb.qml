import QtQuick
import QtQuick.Controls

// One recent link's picture: the cached thumbnail, a muted loop in its place
// while the pointer rests on it, and the full player in a popover on a click.
Item {
    id: thumb

    // The link's id; the picture comes from "image://thumbs/" + id unless
    // thumbnailSource says otherwise.
    property string linkId
    // The link's public video ("/r/" + id on the service).
    property url mediaUrl
    property url thumbnailSource: linkId ? "image://thumbs/" + linkId : ""
    // The link's title, for assistive technology.
    property string title
    // What lies behind the thumbnail: its rounded corners are painted in it.
    property color backdrop: Qt.rgba(0.072, 0.072, 0.087, 1)

    readonly property bool hovering: hover.hovered
    property bool playing: false
    readonly property bool hasImage: picture.status === Image.Ready

    objectName: "linkThumb"
    implicitWidth: 64
    implicitHeight: 40
    Accessible.role: Accessible.Button
    Accessible.name: title ? "Play " + title : "Play"

    Contour { id: contour }

    Rectangle {
        anchors.fill: parent
        color: Qt.rgba(0.12, 0.12, 0.12, 1)
    }
    // Not cached by the engine: a link without a picture yet tries again the
    // next time it is shown.
    Image {
        id: picture
        anchors.fill: parent
        source: thumb.thumbnailSource
        fillMode: Image.PreserveAspectCrop
        asynchronous: true
        cache: false
        smooth: true
        mipmap: true
    }
    Loader {
        id: preview
        anchors.fill: parent
        active: thumb.hovering && !thumb.playing && thumb.mediaUrl.toString() !== ""
        sourceComponent: LoopingPreview {
            source: thumb.mediaUrl
        }
    }
    Canvas {
        id: playSymbol
        objectName: "playSymbol"
        anchors.centerIn: parent
        width: 24
        height: 24
        visible: !thumb.hovering
        onPaint: {
            const c = getContext("2d");
            c.reset();
            c.shadowColor = Qt.rgba(0, 0, 0, 0.6);
            c.shadowBlur = 3;
            c.fillStyle = Qt.rgba(1, 1, 1, 0.9);
            c.lineJoin = "round";
            c.lineWidth = 1.5;
            c.strokeStyle = c.fillStyle;
            c.beginPath();
            c.moveTo(8.5, 6.5);
            c.lineTo(17, 12);
            c.lineTo(8.5, 17.5);
            c.closePath();
            c.fill();
            c.stroke();
        }
    }
    // Rounded corners: the backdrop painted over everything outside them.
    Canvas {
        anchors.fill: parent
        property color backdrop: thumb.backdrop
        onBackdropChanged: requestPaint()
        onPaint: {
            const c = getContext("2d");
            c.reset();
            c.fillStyle = backdrop;
            c.fillRule = Qt.OddEvenFill;
            c.beginPath();
            c.rect(0, 0, width, height);
            c.roundedRect(0, 0, width, height, 6, 6);
            c.fill();
        }
    }
    Rectangle {
        anchors.fill: parent
        radius: 6
        color: "transparent"
        border.width: 1
        border.color: contour.line
    }

    HoverHandler {
        id: hover
        cursorShape: Qt.PointingHandCursor
    }
    TapHandler {
        onTapped: {
            thumb.playing = true;
            popover.open();
        }
    }
    ToolTip.visible: hover.hovered && !thumb.playing
    ToolTip.delay: 700
    ToolTip.text: "Hover to preview. Click to play."

    Popup {
        id: popover
        objectName: "playerPopup"
        parent: Overlay.overlay
        width: 480
        height: 300
        padding: 0
        margins: 8
        focus: true // Escape closes it
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
        // Below the thumbnail, or above it when the window has no room there.
        onAboutToShow: {
            const below = thumb.mapToItem(parent, 0, thumb.height + 6);
            const above = thumb.mapToItem(parent, 0, -height - 6);
            x = below.x;
            y = below.y + height <= parent.height - margins || above.y < margins ? below.y : above.y;
        }
        onClosed: thumb.playing = false
        background: Rectangle {
            color: "black"
            radius: 8
            border.color: contour.lineStrong
        }
        contentItem: Loader {
            active: popover.visible
            sourceComponent: PlayerPopover {
                source: thumb.mediaUrl
            }
        }
    }
}
