import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// The current drawing's story: the prompt, the model, what it said before drawing, the source,
// how long it took, where it was published, and what went wrong.
Item {
    id: transcript
    objectName: "transcript"

    required property ContentController content
    // Where the export actions send the drawing; none, no actions.
    property Exporter exporter
    readonly property DrawSession session: content.session

    clip: true

    // Follows the text as it grows, but only while the reader is at the end: someone who scrolled
    // up to read is left there until they scroll back down. The changes of one frame make one
    // scroll. start(), not restart(): pieces arrive faster than a frame, and restarting would put
    // the scroll off until the reply pauses.
    property bool following: true
    // Whether a follow is on its way (tests watch it).
    readonly property bool followPending: scrollTimer.running || scrollAnimation.running
    readonly property real lineSlack: 22

    function followToBottom() {
        if (following && !scrollTimer.running)
            scrollTimer.start()
    }
    function readerMoved() {
        following = flick.contentY >= flick.contentHeight - flick.height - lineSlack
    }

    Timer {
        id: scrollTimer
        interval: 16
        onTriggered: {
            if (!transcript.following)
                return
            const bottom = Math.max(0, flick.contentHeight - flick.height)
            if (Math.abs(flick.contentY - bottom) < 1)
                return
            scrollAnimation.to = bottom
            scrollAnimation.restart()
        }
    }
    NumberAnimation {
        id: scrollAnimation
        target: flick
        property: "contentY"
        duration: 220
        easing.type: Easing.OutCubic
    }
    Connections {
        target: transcript.session
        function onNarrationChanged() { transcript.followToBottom() }
        function onResultSVGChanged() { transcript.followToBottom() }
        function onStatusNoteChanged() { transcript.followToBottom() }
        function onRunningChanged() {
            if (transcript.session.running)
                transcript.following = true
        }
    }

    Flickable {
        id: flick
        objectName: "transcriptView"
        anchors.fill: parent
        visible: transcript.session.activePrompt !== ""
        contentWidth: width
        contentHeight: column.implicitHeight + 12
        boundsBehavior: Flickable.StopAtBounds
        // Any move but the follow's own (the wheel, a drag, the scroll bar, the keys) is the
        // reader's: the follow stops for it and resumes once the reader is back at the bottom.
        onMovementStarted: scrollAnimation.stop()
        onContentYChanged: {
            if (!scrollAnimation.running)
                transcript.readerMoved()
        }
        ScrollBar.vertical: ScrollBar {
            policy: flick.contentHeight > flick.height ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
            width: 6
            onPressedChanged: {
                if (pressed)
                    scrollAnimation.stop()
            }
        }

        ColumnLayout {
            id: column
            y: 6
            width: flick.width - 10
            spacing: 12

            // The prompt.
            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true
                Label {
                    textFormat: Text.PlainText
                    text: transcript.content.promptHeader
                    color: Theme.secondary
                    font.pixelSize: Theme.caption2
                    font.weight: Font.DemiBold
                }
                Label {
                    id: bubble
                    textFormat: Text.PlainText
                    Layout.fillWidth: true
                    text: transcript.session.activePrompt
                    color: Theme.text
                    font.pixelSize: Theme.body
                    wrapMode: Text.Wrap
                    leftPadding: 10
                    rightPadding: 10
                    topPadding: 7
                    bottomPadding: 7
                    background: Item {
                        // Rounded everywhere but the corner the prompt comes from.
                        // Opaque, so the two shapes can overlap without a seam.
                        readonly property color fill: Qt.tint(Theme.sidebarBG, Theme.white(0.08))
                        Rectangle {
                            anchors.fill: parent
                            radius: 12
                            color: parent.fill
                        }
                        Rectangle {
                            width: 12
                            height: 12
                            radius: 3
                            color: parent.fill
                        }
                    }
                    Accessible.name: qsTr("Prompt: %1").arg(text)
                }
            }

            // The model, and how long it took or that it is still going.
            RowLayout {
                spacing: 6
                Layout.fillWidth: true
                Rectangle {
                    implicitWidth: 6
                    implicitHeight: 6
                    radius: 3
                    color: Theme.accent
                }
                Label {
                    textFormat: Text.PlainText
                    objectName: "runModel"
                    text: transcript.session.runModelLabel
                    color: Theme.modelName
                    font.pixelSize: Theme.caption2
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                    Layout.maximumWidth: column.width - 80
                    Accessible.name: qsTr("Model %1").arg(text)
                }
                Label {
                    textFormat: Text.PlainText
                    visible: transcript.session.durationText !== ""
                    text: "· " + transcript.session.durationText
                    color: Theme.secondary
                    font.pixelSize: Theme.caption2
                }
                Spinner {
                    visible: transcript.session.durationText === "" && transcript.session.running
                    size: 10
                }
                Label {
                    textFormat: Text.PlainText
                    visible: transcript.session.loadingModel
                    text: qsTr("Loading the model…")
                    color: Theme.secondary
                    font.pixelSize: Theme.caption2
                }
            }

            // What a thinking model thought, all of it, apart from what it then said.
            RowLayout {
                visible: !thinkingNarration.empty
                spacing: 8
                Layout.fillWidth: true
                Rectangle {
                    implicitWidth: 2
                    radius: 1
                    color: Theme.white(0.18)
                    Layout.fillHeight: true
                }
                TextEdit {
                    id: thinkingText
                    objectName: "thinking"
                    Layout.fillWidth: true
                    readOnly: true
                    selectByMouse: true
                    wrapMode: TextEdit.Wrap
                    color: Theme.white(0.5)
                    selectionColor: Theme.accent
                    selectedTextColor: Theme.text
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.caption
                    font.italic: true
                    Accessible.role: Accessible.StaticText
                    Accessible.name: qsTr("Thinking")
                    TapHandler {
                        acceptedButtons: Qt.RightButton
                        onTapped: (point) => thinkingTextEditMenu.openAt(point.position)
                    }
                    EditMenu {
                        id: thinkingTextEditMenu
                        target: thinkingText
                    }

                    VisibleNarration {
                        id: thinkingNarration
                        thinking: true
                        session: transcript.session
                        target: thinkingText.textDocument // qmllint disable
                    }
                }
            }

            // What the model said before it began to draw.
            TextEdit {
                id: narrationText
                objectName: "narration"
                visible: !narration.empty
                Layout.fillWidth: true
                readOnly: true
                selectByMouse: true
                wrapMode: TextEdit.Wrap
                color: Theme.white(0.82)
                selectionColor: Theme.accent
                selectedTextColor: Theme.text
                font.family: Theme.fontFamily
                font.pixelSize: Theme.body
                Accessible.role: Accessible.StaticText
                Accessible.name: qsTr("Narration")
                TapHandler {
                    acceptedButtons: Qt.RightButton
                    onTapped: (point) => narrationTextEditMenu.openAt(point.position)
                }
                EditMenu {
                    id: narrationTextEditMenu
                    target: narrationText
                }

                VisibleNarration {
                    id: narration
                    session: transcript.session
                    target: narrationText.textDocument // qmllint disable
                }
            }

            Loader {
                objectName: "codeBox"
                Layout.fillWidth: true
                active: transcript.session.resultSVG !== ""
                visible: active
                // A new result is a new box: every drawing's source starts folded.
                sourceComponent: SVGCodeBox {
                    svg: transcript.session.resultSVG
                }
            }

            Loader {
                objectName: "exportBar"
                Layout.fillWidth: true
                active: transcript.exporter !== null && transcript.session.resultSVG !== ""
                visible: active
                sourceComponent: ExportBar {
                    exporter: transcript.exporter
                }
            }

            RowLayout {
                visible: transcript.session.durationText !== ""
                spacing: 5
                SymbolIcon {
                    symbol: "checkmark.circle.fill"
                    size: 13
                    color: Theme.green
                }
                Label {
                    textFormat: Text.PlainText
                    objectName: "done"
                    text: qsTr("Done in %1").arg(transcript.session.durationText)
                    color: Theme.green
                    font.pixelSize: Theme.caption
                    font.weight: Font.DemiBold
                }
            }

            Label {
                id: link
                textFormat: Text.PlainText
                visible: text !== ""
                text: transcript.content.publishedLinkText
                color: Theme.accent
                font.family: Theme.monoFamily
                font.pixelSize: Theme.caption2
                font.underline: linkHover.hovered
                elide: Text.ElideMiddle
                Layout.fillWidth: true
                HoverHandler {
                    id: linkHover
                    cursorShape: Qt.PointingHandCursor
                }
                TapHandler {
                    onTapped: transcript.content.openLink(transcript.session.publishedURL)
                }
                Accessible.role: Accessible.Link
                Accessible.name: text
                Accessible.onPressAction: transcript.content.openLink(transcript.session.publishedURL)
            }

            Label {
                textFormat: Text.PlainText
                visible: text !== ""
                text: transcript.session.statusNote
                color: Theme.red
                font.family: Theme.monoFamily
                font.pixelSize: Theme.caption2
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }

            Item {
                objectName: "bottom"
                Layout.fillWidth: true
                implicitHeight: 1
            }
        }
    }
}
