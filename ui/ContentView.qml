import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dravlin

// One window's content: the sidebar with every control, a divider, and the live canvas.
Item {
    id: root

    // Made by the application with the window, so it can reach the window's state directly.
    required property ContentController content
    readonly property DrawSession session: content.session

    // The window's kept drawings and its exports, shared by the transcript and the history sheet.
    HistoryController {
        id: historyController
        objectName: "history"
        session: root.session
    }
    Exporter {
        id: drawingExporter
        objectName: "exporter"
        canvas: root.session.canvas
        prompt: historyController.viewing ? historyController.entry.prompt : root.session.activePrompt
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            id: sidebar
            Layout.preferredWidth: 320
            Layout.fillHeight: true
            color: Theme.sidebarBG

            ColumnLayout {
                anchors.fill: parent
                anchors.margins: 16
                anchors.topMargin: 16 + Theme.titleBarInset
                spacing: 14
                visible: !historySheet.active

                WordmarkRow {
                    content: root.content
                    Layout.fillWidth: true
                    Layout.topMargin: 6
                }

                DrawingControls {
                    id: controls
                    objectName: "controls"
                    visible: root.showControls
                    content: root.content
                    Layout.fillWidth: true
                }

                DownloadsLine {
                    objectName: "downloadsLine"
                    downloads: root.session.downloads
                    Layout.fillWidth: true
                }

                DButton {
                    visible: root.content.canDraw && !root.session.catalog.ollamaUp
                    text: qsTr("＋ Get free local models with Ollama →")
                    font.pixelSize: Theme.caption2
                    textColor: Theme.secondary
                    Accessible.role: Accessible.Link
                    onClicked: root.content.openLink(root.content.ollamaURL)
                }

                Transcript {
                    visible: root.showControls
                    content: root.content
                    exporter: drawingExporter
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                }

                Onboarding {
                    objectName: "onboarding"
                    // Not before the first listing has answered: a person with models would see
                    // it flash at every launch.
                    visible: !root.showControls
                    content: root.content
                    Layout.fillWidth: true
                }
                Item {
                    visible: !root.showControls
                    Layout.fillHeight: true
                }

                AccountFooter {
                    content: root.content
                    Layout.fillWidth: true
                }
            }

            Loader {
                id: historySheet
                anchors.fill: parent
                anchors.topMargin: Theme.titleBarInset
                active: false
                sourceComponent: HistorySheet {
                    objectName: "historySheet"
                    content: root.content
                    history: historyController
                    exporter: drawingExporter
                    onDismissed: historySheet.active = false
                }
            }
        }

        Rectangle {
            Layout.preferredWidth: 1
            Layout.fillHeight: true
            color: Theme.canvasBackdrop
        }

        // The web engine takes longer to start than all the rest of the window, so the canvas's
        // view is made only once the window has shown its first frame and its first model listing
        // has answered: the sidebar is up, with the prompt taking keys, without waiting for it. A
        // drawing started meanwhile waits in the controller until the page has loaded.
        Loader {
            id: canvasHost
            objectName: "canvasHost"
            Layout.fillWidth: true
            Layout.fillHeight: true
            active: false
            sourceComponent: CanvasWebView {
                objectName: "canvas"
                controller: root.session.canvas
                Accessible.name: qsTr("Canvas")
            }
            Rectangle {
                anchors.fill: parent
                visible: !canvasHost.item
                color: Theme.text
            }
        }
    }

    Connections {
        target: root.content
        function onHistoryRequested() { historySheet.active = true }
    }
    // The prompt field says what is being drawn again, ready to be changed and drawn once more.
    Connections {
        target: historyController
        function onDrawingAgain(prompt) { controls.prompt = prompt }
    }
    Shortcut {
        sequence: root.content.historyKeys
        onActivated: {
            if (historySheet.item)
                historySheet.item.hide() // qmllint disable
            else
                historySheet.active = true
        }
    }

    // Escape stops a running drawing, as Stop does. Whatever is open over the window (a sheet,
    // the history, a menu, the picker) closes with Escape first, each by its own key.
    readonly property bool overlayOpen: root.getModelsSheet !== null || root.keySheet !== null
                                        || historySheet.active
    Shortcut {
        sequences: [StandardKey.Cancel] // qmllint disable
        enabled: root.session.running && !root.overlayOpen
        onActivated: root.session.stop()
    }
    // Ctrl+Return (⌘↩ on the Mac) draws from anywhere in the window.
    Shortcut {
        sequences: [root.content.drawKeys, "Ctrl+Enter"]
        enabled: root.content.canDraw && !root.session.running && !root.overlayOpen
        onActivated: root.session.start(controls.prompt)
    }

    // The keyboard goes back to the prompt whenever nothing else needs it.
    function focusPrompt() {
        if (!root.overlayOpen)
            controls.focusPrompt()
    }
    Connections {
        target: root.session
        function onRunningChanged() {
            // The prompt and the picker are off while a run goes on: the keyboard waits at Stop.
            if (root.session.running) {
                if (!root.overlayOpen)
                    controls.focusStop()
            } else {
                Qt.callLater(root.focusPrompt) // qmllint disable
            }
        }
    }
    // Models that arrive (or come back) bring the prompt, but a user who has already tabbed to a
    // control keeps it: only a keyboard left nowhere in particular is taken.
    function keyboardIdle(holder: Item): bool {
        return holder === null || !holder.activeFocusOnTab || !holder.visible
    }
    function focusPromptIfIdle() {
        if (root.keyboardIdle(root.Window.activeFocusItem))
            root.focusPrompt()
    }
    Connections {
        target: root.content
        function onCanDrawChanged() { Qt.callLater(root.focusPromptIfIdle) } // qmllint disable
    }
    onOverlayOpenChanged: if (!overlayOpen) Qt.callLater(root.focusPrompt) // qmllint disable

    // Each sheet is made afresh whenever it opens and destroyed once it has closed; setting the
    // flag back closes it too.
    property Popup getModelsSheet: null
    property Popup keySheet: null
    Component {
        id: getModelsComponent
        GetModelsSheet {
            objectName: "getModelsSheet"
            session: root.session
            onDismissed: {
                root.content.showGetModels = false
                root.getModelsSheet = null
                destroy()
            }
        }
    }
    Component {
        id: keyComponent
        OpenRouterKeySheet {
            objectName: "keySheet"
            content: root.content
            onDismissed: {
                root.content.showKeySheet = false
                root.keySheet = null
                destroy()
            }
        }
    }
    Connections {
        target: root.content
        function onShowGetModelsChanged() {
            if (root.content.showGetModels && !root.getModelsSheet)
                root.getModelsSheet = getModelsComponent.createObject(root)
            else if (!root.content.showGetModels && root.getModelsSheet)
                root.getModelsSheet.close()
        }
        function onShowKeySheetChanged() {
            if (root.content.showKeySheet && !root.keySheet)
                root.keySheet = keyComponent.createObject(root)
            else if (!root.content.showKeySheet && root.keySheet)
                root.keySheet.close()
        }
    }

    // An image dropped anywhere on the window becomes the reference, for a model that sees images.
    DropArea {
        anchors.fill: parent
        // Every drag is taken here, so none reaches the canvas's web view, which would try to
        // open what was dropped; only a file for a model that sees images is welcome.
        readonly property bool welcome: root.session.catalog.selectedIsVision
        onEntered: (drag) => drag.accept(drag.hasUrls && welcome ? Qt.CopyAction : Qt.IgnoreAction)
        onPositionChanged: (drag) => drag.accept(drag.hasUrls && welcome ? Qt.CopyAction : Qt.IgnoreAction)
        onDropped: (drop) => {
            drop.accept(welcome && root.content.dropImage(drop.urls) ? Qt.CopyAction : Qt.IgnoreAction)
        }
    }

    // Until the first listing answers, the window shows what it shows to a person with models,
    // ready for typing: the onboarding appears only once it is known there are none.
    readonly property bool showControls: content.canDraw || !content.modelsKnown

    // The canvas's view is made once a frame of the settled sidebar, its prompt focused, has been
    // prepared (a window's first frame is painted before the event loop goes on). When the sidebar
    // settles after a frame has been prepared, that frame may report it only just after: the next
    // one surely shows it.
    readonly property bool sidebarSettled: !showControls || controls.promptFocused
    property bool synchronizedOnce: false
    property int syncsBeforeCanvas: -1
    onSidebarSettledChanged: {
        if (sidebarSettled && syncsBeforeCanvas < 0) {
            syncsBeforeCanvas = synchronizedOnce ? 2 : 1
            root.Window.window.update()
        }
    }
    Connections {
        target: root.Window.window
        enabled: !canvasHost.active
        function onAfterSynchronizing() {
            root.synchronizedOnce = true
            if (root.syncsBeforeCanvas <= 0)
                return
            if (--root.syncsBeforeCanvas === 0)
                Qt.callLater(root.makeCanvas) // qmllint disable
            else
                root.Window.window.update()
        }
    }
    Timer {
        // A listing that takes long, or a window that is never painted (opened minimised, say),
        // does not keep the canvas away for long.
        interval: 1500
        running: !canvasHost.active
        onTriggered: root.makeCanvas()
    }
    function makeCanvas() { canvasHost.active = true }

    // Once the canvas is up, what the first drawing will show is rendered once, out of sight.
    Loader {
        id: warmUp
        property bool done: false
        active: !done && canvasHost.item !== null && canvasHost.item.loadProgress === 100 // qmllint disable
        sourceComponent: WarmUp {}
    }
    Connections {
        target: root.Window.window
        enabled: warmUp.status === Loader.Ready && !warmUp.done
        function onFrameSwapped() { warmUp.done = true }
    }

    Component.onCompleted: {
        content.appear()
        Qt.callLater(root.focusPrompt) // qmllint disable
    }
}
