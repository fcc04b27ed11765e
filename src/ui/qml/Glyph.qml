import QtQuick

// The few line icons the window uses, drawn so no icon theme is needed:
// record, check, trash, clock, copy, open, pencil, tray.
Canvas {
    id: glyph
    property string name
    property color color: "white"
    property real size: 14
    implicitWidth: size
    implicitHeight: size
    onColorChanged: requestPaint()
    onNameChanged: requestPaint()

    onPaint: {
        const c = getContext("2d");
        c.reset();
        const s = Math.min(width, height);
        c.scale(s / 16, s / 16);
        c.strokeStyle = color;
        c.fillStyle = color;
        c.lineWidth = 1.5;
        c.lineCap = "round";
        c.lineJoin = "round";
        c.beginPath();
        switch (name) {
        case "record":
            c.arc(8, 8, 6.5, 0, 2 * Math.PI);
            c.stroke();
            c.beginPath();
            c.arc(8, 8, 3.5, 0, 2 * Math.PI);
            c.fill();
            break;
        case "check":
            c.moveTo(3, 8.5); c.lineTo(6.5, 12); c.lineTo(13, 4.5);
            c.stroke();
            break;
        case "trash":
            c.moveTo(2.5, 4); c.lineTo(13.5, 4);
            c.moveTo(6, 4); c.lineTo(6.5, 2); c.lineTo(9.5, 2); c.lineTo(10, 4);
            c.moveTo(4, 4); c.lineTo(4.8, 14); c.lineTo(11.2, 14); c.lineTo(12, 4);
            c.moveTo(6.8, 6.5); c.lineTo(7, 11.5);
            c.moveTo(9.2, 6.5); c.lineTo(9, 11.5);
            c.stroke();
            break;
        case "clock":
            c.arc(8, 8, 6.2, 0, 2 * Math.PI);
            c.moveTo(8, 4.5); c.lineTo(8, 8); c.lineTo(10.5, 9.5);
            c.stroke();
            break;
        case "copy":
            c.rect(5.5, 5.5, 8, 8.5);
            c.moveTo(3, 11); c.lineTo(2.5, 11); c.lineTo(2.5, 2.5); c.lineTo(10.5, 2.5); c.lineTo(10.5, 3.5);
            c.stroke();
            break;
        case "open":
            c.moveTo(13.5, 9); c.lineTo(13.5, 13.5); c.lineTo(2.5, 13.5); c.lineTo(2.5, 2.5); c.lineTo(7, 2.5);
            c.moveTo(9, 2.5); c.lineTo(13.5, 2.5); c.lineTo(13.5, 7);
            c.moveTo(13.5, 2.5); c.lineTo(7.5, 8.5);
            c.stroke();
            break;
        case "pencil":
            c.moveTo(3, 13); c.lineTo(3.5, 10.5); c.lineTo(11, 3); c.lineTo(13, 5); c.lineTo(5.5, 12.5);
            c.closePath();
            c.moveTo(9.5, 4.5); c.lineTo(11.5, 6.5);
            c.stroke();
            break;
        case "tray":
            c.arc(8, 8, 6.5, 0, 2 * Math.PI);
            c.stroke();
            c.beginPath();
            c.arc(8, 8, 3, 0, 2 * Math.PI);
            c.fill();
            break;
        }
    }
}
