import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The main window: the app's mark, the stage of the recording road, the
// settings, the recordings left behind, the recent links and the footer.
// `app` (the view's backend) decides every text and menu; this only binds.
Rectangle {
    id: root
    readonly property color fg: Qt.rgba(0.95, 0.95, 0.96, 1)
    readonly property color muted: Qt.rgba(0.545, 0.545, 0.6, 1)
    readonly property Contour contour: Contour {}
    readonly property bool idle: app.phase === "idle"
    property string hoveredLink: ""

    color: Qt.rgba(0.043, 0.043, 0.059, 1)
    implicitWidth: 440
    implicitHeight: Math.max(520, content.implicitHeight)

    Shortcut {
        sequence: "Ctrl+R"
        enabled: root.idle
        onActivated: app.record()
    }
    Shortcut {
        sequence: "Ctrl+S"
        enabled: app.phase === "recording"
        onActivated: app.done()
    }

    ColumnLayout {
        id: content
        x: 28
        width: root.width - 56
        // Taller than its content only when the window is: the footer stays at the bottom.
        height: Math.max(implicitHeight, root.height)
        spacing: 0

        AppMark {
            Layout.topMargin: 38
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 88
            Layout.preferredHeight: 88
        }

        Stage {
            objectName: "stage"
            Layout.topMargin: 18
            Layout.fillWidth: true
        }

        // The leftover-copy note and the setup card, where the app gives `setup`.
        Loader {
            id: leftoverNoteSlot
            objectName: "leftoverNoteSlot"
            active: root.idle && typeof setup !== "undefined"
            // Not item.visible: an item inside a hidden loader never reads visible.
            visible: active && setup.leftover !== ""
            Layout.topMargin: visible ? 22 : 0
            Layout.fillWidth: true
            sourceComponent: LeftoverNote {}
        }
        Loader {
            id: setupCardSlot
            objectName: "setupCardSlot"
            active: root.idle && typeof setup !== "undefined"
            visible: active && item !== null && item.model.shown
            Layout.topMargin: visible ? 22 : 0
            Layout.fillWidth: true
            sourceComponent: SetupCard {
                camera: app.cameraEnabled
                microphone: app.micEnabled
            }
        }

        Settings {
            objectName: "settings"
            visible: root.idle
            Layout.topMargin: 22
            Layout.fillWidth: true
        }

        LeftBehind {
            objectName: "leftBehind"
            visible: root.idle && app.leftBehind.length > 0
            Layout.topMargin: 22
            Layout.fillWidth: true
        }

        RecentLinks {
            objectName: "recentLinks"
            visible: app.links.count > 0
            Layout.topMargin: 22
            Layout.fillWidth: true
        }

        Item {
            Layout.fillHeight: true
            Layout.minimumHeight: 18
        }

        Column {
            objectName: "footer"
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: 14
            spacing: 3
            opacity: 0.8
            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 4
                Text {
                    text: "Also in your system tray as"
                    color: root.muted
                    font.pixelSize: 11
                }
                Glyph {
                    name: "tray"
                    size: 12
                    color: root.muted
                    anchors.verticalCenter: parent.verticalCenter
                }
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: app.version
                color: root.muted
                font.pixelSize: 11
            }
        }
    }

    // The app's mark, as its icon draws it.
    component AppMark: Item {
        Rectangle {
            anchors.fill: parent
            anchors.margins: 88 * 8 / 128
            radius: 88 * 26 / 128
            color: "#26262b"
            border.color: root.contour.line
            Rectangle {
                anchors.centerIn: parent
                width: 88 * 76 / 128
                height: width
                radius: width / 2
                color: "white"
                Rectangle {
                    anchors.centerIn: parent
                    width: 88 * 44 / 128
                    height: width
                    radius: width / 2
                    color: "#e53935"
                }
            }
        }
    }

    component Stage: Item {
        implicitHeight: stageColumn.implicitHeight
        ColumnLayout {
            id: stageColumn
            width: parent.width
            spacing: 10

            ProminentButton {
                objectName: "recordButton"
                visible: root.idle
                Layout.alignment: Qt.AlignHCenter
                text: "Record my screen"
                glyph: "record"
                labelSize: 16
                tint: root.contour.live
                leftPadding: 22
                rightPadding: 22
                topPadding: 10
                bottomPadding: 10
                onClicked: app.record()
            }
            Text {
                objectName: "stageHint"
                visible: root.idle
                Layout.fillWidth: true
                text: app.stageHint
                color: root.muted
                font.pixelSize: 12
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
            }

            Text {
                objectName: "startingText"
                visible: app.phase === "starting"
                Layout.alignment: Qt.AlignHCenter
                text: "Starting…"
                color: root.muted
                font.pixelSize: 15
            }

            RowLayout {
                visible: app.phase === "recording"
                Layout.alignment: Qt.AlignHCenter
                spacing: 10
                Rectangle {
                    width: 10
                    height: 10
                    radius: 5
                    color: root.contour.live
                }
                Text {
                    objectName: "elapsedText"
                    text: app.elapsed
                    color: root.fg
                    font.pixelSize: 34
                    font.weight: Font.DemiBold
                }
            }
            RowLayout {
                visible: app.phase === "recording"
                Layout.alignment: Qt.AlignHCenter
                spacing: 10
                ProminentButton {
                    objectName: "doneButton"
                    text: "Done"
                    glyph: "check"
                    tint: root.contour.live
                    onClicked: app.done()
                }
                SmallButton {
                    objectName: "discardButton"
                    text: "Discard"
                    glyph: "trash"
                    font.pixelSize: 14
                    padding: 7
                    tip: "Throw this recording away. Nothing is uploaded."
                    onClicked: app.discard()
                }
            }
            Text {
                visible: app.phase === "recording"
                Layout.alignment: Qt.AlignHCenter
                text: "Done uploads it and copies the link. Discard throws it away."
                color: root.muted
                font.pixelSize: 12
            }

            RowLayout {
                visible: app.phase === "finishing"
                Layout.alignment: Qt.AlignHCenter
                spacing: 10
                BusyIndicator {
                    running: parent.visible
                    implicitWidth: 18
                    implicitHeight: 18
                    padding: 0
                }
                Text {
                    objectName: "finishingText"
                    text: "Finishing…"
                    color: root.muted
                    font.pixelSize: 13
                }
            }

            RowLayout {
                visible: app.phase === "uploading"
                Layout.alignment: Qt.AlignHCenter
                spacing: 10
                Ring {
                    objectName: "uploadRing"
                    fraction: app.uploadFraction < 0 ? undefined : app.uploadFraction
                }
                Text {
                    objectName: "uploadText"
                    text: app.uploadText
                    color: root.fg
                    font.pixelSize: 14
                    font.weight: Font.Medium
                }
            }
        }
    }

    component Divider: Rectangle {
        Layout.fillWidth: true
        implicitHeight: 1
        color: root.contour.line
    }

    component SettingRow: RowLayout {
        property alias label: labelText.text
        default property alias trailing: trailingSlot.data
        Layout.fillWidth: true
        Layout.topMargin: 9
        Layout.bottomMargin: 9
        Text {
            id: labelText
            color: root.fg
            font.pixelSize: 13
            Layout.fillWidth: true
        }
        Item {
            id: trailingSlot
            implicitWidth: childrenRect.width
            implicitHeight: childrenRect.height
        }
    }

    component SettingSwitch: Switch {
        id: toggle
        padding: 0
        spacing: 0
        text: ""
        indicator: Rectangle {
            implicitWidth: 32
            implicitHeight: 18
            radius: 9
            color: toggle.checked ? Qt.rgba(0.2, 0.52, 1, 1) : Qt.rgba(1, 1, 1, 0.18)
            Rectangle {
                x: toggle.checked ? parent.width - width - 2 : 2
                anchors.verticalCenter: parent.verticalCenter
                width: 14
                height: 14
                radius: 7
                color: "white"
                Behavior on x { NumberAnimation { duration: 120 } }
            }
        }
    }

    component Settings: ColumnLayout {
        spacing: 0
        SettingRow {
            label: "Show my camera in a bubble"
            SettingSwitch {
                objectName: "cameraSwitch"
                checked: app.cameraEnabled
                onToggled: app.cameraEnabled = checked
            }
        }
        Divider { visible: app.cameraEnabled }
        SettingRow {
            objectName: "bubbleRow"
            visible: app.cameraEnabled
            label: "In the video, the bubble goes"
            SmallButton {
                id: spotButton
                objectName: "bubbleSpotButton"
                text: app.bubbleSpotTitle
                tip: "While you record, the bubble sits wherever you drag it, as your mirror. This is where it appears in the video."
                onClicked: spotMenu.open()
                ChoiceMenu {
                    id: spotMenu
                    y: spotButton.height + 2
                    entries: app.bubbleSpots
                    onChosen: entry => app.chooseBubbleSpot(app.bubbleSpots.findIndex(s => s.text === entry.text))
                }
            }
        }
        Text {
            objectName: "bubbleSpotNote"
            visible: app.cameraEnabled && text !== ""
            text: app.bubbleSpotNote
            color: root.muted
            font.pixelSize: 11
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
            Layout.bottomMargin: 9
        }
        Divider {}
        SettingRow {
            label: "Record my microphone"
            SettingSwitch {
                objectName: "micSwitch"
                checked: app.micEnabled
                onToggled: app.micEnabled = checked
            }
        }
        Divider {}
        SettingRow {
            label: "Show Mivra Video in the taskbar"
            SettingSwitch {
                objectName: "taskbarSwitch"
                checked: app.showInDock
                onToggled: app.showInDock = checked
            }
        }
        Divider {}
        SettingRow {
            label: "New videos last"
            SmallButton {
                id: lifetimeButton
                objectName: "newLifetimeButton"
                text: app.newLifetimeLabel
                tip: "How long each new video lasts"
                onClicked: lifetimeMenu.open()
                ChoiceMenu {
                    id: lifetimeMenu
                    objectName: "newLifetimeMenu"
                    y: lifetimeButton.height + 2
                    x: lifetimeButton.width - width
                    entries: app.newLifetimeMenu
                    onChosen: entry => {
                        if (entry.kind === "preset")
                            app.pickNewLifetime(entry.seconds);
                        else if (entry.kind === "custom")
                            app.customNewLifetime();
                    }
                }
            }
        }
    }

    component SectionHeading: Text {
        color: root.muted
        font.pixelSize: 11
        font.weight: Font.DemiBold
        font.letterSpacing: 0.6
    }

    component Panel: Rectangle {
        default property alias rows: panelColumn.data
        Layout.fillWidth: true
        implicitHeight: panelColumn.implicitHeight
        radius: 14
        color: Qt.rgba(1, 1, 1, 0.03)
        border.color: root.contour.line
        border.width: 1
        ColumnLayout {
            id: panelColumn
            width: parent.width
            spacing: 0
        }
    }

    component LeftBehind: ColumnLayout {
        spacing: 8
        SectionHeading { text: "Not uploaded yet" }
        Panel {
            Repeater {
                model: app.leftBehind
                delegate: ColumnLayout {
                    required property var modelData
                    required property int index
                    objectName: "leftBehindRow_" + modelData.name
                    Layout.fillWidth: true
                    spacing: 0
                    Divider { visible: index > 0 }
                    RowLayout {
                        Layout.fillWidth: true
                        Layout.margins: 10
                        Layout.leftMargin: 14
                        spacing: 6
                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 2
                            Text {
                                Layout.fillWidth: true
                                text: modelData.name
                                color: root.fg
                                font.pixelSize: 13
                                font.weight: Font.Medium
                                elide: Text.ElideRight
                            }
                            Text {
                                text: modelData.details
                                color: root.muted
                                font.pixelSize: 11
                            }
                        }
                        SmallButton {
                            objectName: "uploadLeftBehind"
                            text: "Upload"
                            tip: "Upload it now and copy the link"
                            onClicked: app.uploadLeftBehind(modelData.path)
                        }
                        SmallButton {
                            objectName: "trashLeftBehind"
                            text: "Delete"
                            tip: "Move this recording to the trash"
                            onClicked: app.trashLeftBehind(modelData.path)
                        }
                    }
                }
            }
        }
    }

    component RecentLinks: ColumnLayout {
        spacing: 8
        SectionHeading { text: "RECENT LINKS" }
        Panel {
            Repeater {
                model: app.links
                delegate: LinkRow {}
            }
        }
    }

    component LinkRow: ColumnLayout {
        id: row
        required property string linkId
        required property string title
        required property string expiryText
        required property int index
        readonly property bool renaming: app.rename.renaming === linkId
        objectName: "linkRow_" + linkId
        Layout.fillWidth: true
        spacing: 0

        Divider { visible: row.index > 0 }
        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 10
            spacing: 6
            HoverHandler {
                onHoveredChanged: {
                    if (hovered)
                        root.hoveredLink = row.linkId;
                    else if (root.hoveredLink === row.linkId)
                        root.hoveredLink = "";
                }
            }

            LinkThumb {
                linkId: row.linkId
                title: row.title
                mediaUrl: app.mediaBase + row.linkId
            }

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                TextField {
                    objectName: "titleField"
                    visible: row.renaming
                    Layout.fillWidth: true
                    placeholderText: "Title"
                    text: row.renaming ? app.rename.titleDraft : ""
                    color: root.fg
                    font.pixelSize: 13
                    // The flow gives focus a turn after the field appears.
                    readonly property bool wantsFocus: row.renaming && app.rename.titleFocused
                    onWantsFocusChanged: if (wantsFocus) forceActiveFocus()
                    background: Rectangle {
                        radius: 5
                        color: Qt.rgba(1, 1, 1, 0.06)
                        border.color: root.contour.lineStrong
                    }
                    onTextEdited: app.rename.titleDraft = text
                    onAccepted: app.rename.finish()
                    Keys.onEscapePressed: app.rename.cancel()
                    onActiveFocusChanged: {
                        if (activeFocus)
                            selectAll();
                        else
                            app.rename.focusLost(row.linkId);
                    }
                }
                RowLayout {
                    visible: !row.renaming
                    Layout.fillWidth: true
                    spacing: 4
                    Text {
                        objectName: "titleText"
                        Layout.fillWidth: true
                        Layout.maximumWidth: implicitWidth
                        text: row.title
                        color: root.fg
                        font.pixelSize: 13
                        font.weight: Font.Medium
                        maximumLineCount: 2
                        wrapMode: Text.Wrap
                        elide: Text.ElideRight
                        MouseArea {
                            anchors.fill: parent
                            onDoubleClicked: app.rename.start(row.linkId, row.title)
                        }
                    }
                    SmallButton {
                        objectName: "pencilButton"
                        plain: true
                        glyph: "pencil"
                        glyphSize: 11
                        ink: root.muted
                        tip: "Rename"
                        opacity: root.hoveredLink === row.linkId ? 1 : 0
                        onClicked: app.rename.start(row.linkId, row.title)
                    }
                    Item { Layout.fillWidth: true }
                }
                Text {
                    objectName: "expiryText"
                    text: row.expiryText
                    color: root.muted
                    font.pixelSize: 11
                }
            }

            SmallButton {
                id: clockButton
                objectName: "clockButton"
                glyph: "clock"
                tip: "How long this video lasts"
                onClicked: {
                    clockMenu.heading = app.linkExpiryText(row.linkId);
                    clockMenu.entries = app.linkMenu(row.linkId);
                    clockMenu.open();
                }
                ChoiceMenu {
                    id: clockMenu
                    objectName: "clockMenu"
                    y: clockButton.height + 2
                    x: clockButton.width - width
                    onChosen: entry => {
                        if (entry.kind === "preset")
                            app.pickLinkLifetime(row.linkId, entry.seconds);
                        else if (entry.kind === "custom")
                            app.untilLink(row.linkId);
                    }
                }
            }
            SmallButton {
                objectName: "copyButton"
                glyph: "copy"
                tip: "Copy the link"
                onClicked: app.copyLink(row.linkId)
            }
            SmallButton {
                objectName: "openButton"
                glyph: "open"
                tip: "Open the link in your browser (and copy it)"
                onClicked: app.openLink(row.linkId)
            }
            SmallButton {
                objectName: "deleteButton"
                glyph: "trash"
                tip: app.deleteTooltip
                onClicked: app.deleteLink(row.linkId)
            }
        }
    }
}
