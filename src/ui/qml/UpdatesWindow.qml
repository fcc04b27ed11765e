import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// "Check for Updates…": the check, the newer version's notes, the download
// and install with its progress, and any failure in a sentence.
Window {
    id: window
    readonly property color fg: Qt.rgba(0.95, 0.95, 0.96, 1)
    readonly property color muted: Qt.rgba(0.545, 0.545, 0.6, 1)
    readonly property Contour contour: Contour {}
    readonly property string state: updates.stateName

    title: "Software Update"
    width: 420
    height: Math.max(200, column.implicitHeight + 40)
    color: Qt.rgba(0.043, 0.043, 0.059, 1)

    ColumnLayout {
        id: column
        x: 20
        y: 20
        width: window.width - 40
        spacing: 12

        Text {
            objectName: "updateMessage"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: updates.message
            color: window.fg
            font.pixelSize: 14
            font.weight: Font.DemiBold
        }
        Text {
            visible: window.state === "available" || window.state === "failed" && updates.availableVersion !== ""
            text: "You have " + updates.installedVersion + "."
            color: window.muted
            font.pixelSize: 11
        }
        Rectangle {
            visible: updates.releaseNotes !== "" && window.state === "available"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(180, notes.implicitHeight + 20)
            radius: 8
            color: window.contour.surface
            border.color: window.contour.line
            clip: true
            Flickable {
                anchors.fill: parent
                anchors.margins: 10
                contentHeight: notes.implicitHeight
                Text {
                    id: notes
                    width: parent.width
                    wrapMode: Text.Wrap
                    textFormat: Text.RichText
                    // Lists hang their bullets inside the box's own margin instead of
                    // the rich text's 40-pixel indent.
                    text: "<style>ul, ol { -qt-list-indent: 0; margin-left: 18px; }</style>" + updates.releaseNotes
                    color: window.fg
                    font.pixelSize: 12
                    onLinkActivated: link => Qt.openUrlExternally(link)
                }
            }
        }
        Text {
            visible: updates.releaseNotesLink.toString() !== "" && window.state === "available"
            text: "<a href=\"" + updates.releaseNotesLink + "\">Release notes</a>"
            textFormat: Text.StyledText
            linkColor: window.fg
            font.pixelSize: 12
            onLinkActivated: link => Qt.openUrlExternally(link)
        }
        ProgressBar {
            visible: window.state === "downloading" || window.state === "installing" || window.state === "checking"
            Layout.fillWidth: true
            from: 0
            to: 1
            value: updates.progress
            indeterminate: window.state !== "downloading"
        }
        RowLayout {
            Layout.fillWidth: true
            Item { Layout.fillWidth: true }
            SmallButton {
                text: "Close"
                onClicked: window.close()
            }
            SmallButton {
                visible: window.state === "available"
                text: "Download and Install"
                onClicked: updates.downloadAndInstall()
            }
            SmallButton {
                visible: window.state === "failed" || window.state === "upToDate"
                text: "Check Again"
                onClicked: updates.checkForUpdates()
            }
        }
    }
}
