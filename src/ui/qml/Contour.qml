import QtQuick

// The palette the recording controls and the main window share.
QtObject {
    readonly property color surface: Qt.rgba(0.082, 0.082, 0.11, 1)
    readonly property color line: Qt.rgba(1, 1, 1, 0.14)
    readonly property color lineStrong: Qt.rgba(1, 1, 1, 0.32)
    readonly property color live: Qt.rgba(1.0, 0.302, 0.427, 1)
}
