import QtQuick
import QtWebEngine
import Dravlin

// Hosts the canvas page. The page is driven only through the controller's commands; it can never
// leave its own document or open another window, whatever the model's text tries.
WebEngineView {
    id: view

    property CanvasController controller
    readonly property url pageUrl: controller ? controller.pageUrl : ""

    url: pageUrl
    backgroundColor: Theme.text

    settings.javascriptCanOpenWindows: false
    settings.javascriptCanAccessClipboard: false
    settings.localContentCanAccessRemoteUrls: false
    settings.localContentCanAccessFileUrls: true
    settings.pluginsEnabled: false
    settings.errorPageEnabled: false
    settings.linksIncludedInFocusChain: false
    settings.navigateOnDropEnabled: false

    // A page that has not answered a ping for this long has stopped answering: a drawing too
    // heavy to lay out or paint keeps it busy in one task that may never end.
    property int unresponsiveAfterMs: 8000

    // The page keeps each drawing within a budget, but whatever still brings it down must not
    // leave the canvas blank or frozen for the rest of the window's life: when its render process
    // ends, or the page stops answering and its process is ended, the page is loaded afresh.
    property bool reloadingPage: false
    property double pingSentAt: 0 // 0 while no ping is on its way

    onControllerChanged: if (controller) controller.setWebView(view)

    // The controller's questions to the page (the drawing to export); the answer goes back to it.
    function query(script, ticket) {
        view.runJavaScript(script, function(result) {
            if (view.controller)
                view.controller.deliverQueryResult(ticket, result)
        })
    }

    onNavigationRequested: function(request) {
        // The first load of the page itself is the only navigation there will ever be, apart from
        // loading it again after its process ended.
        const allowed = request.navigationType === WebEngineNavigationRequest.TypedNavigation
                || (view.reloadingPage && request.navigationType === WebEngineNavigationRequest.ReloadNavigation)
        if (request.url !== view.pageUrl || !request.isMainFrame || !allowed)
            request.reject()
    }
    onRenderProcessTerminated: function(terminationStatus, exitCode) {
        view.pingSentAt = 0
        view.reloadingPage = true
        const delay = controller ? controller.reportRenderProcessEnded() : 0
        // Not from within the engine's own notification, and later each time it happens again.
        if (delay >= 0) {
            reloadTimer.interval = delay
            reloadTimer.start()
        }
    }
    Connections {
        target: view.controller
        function onReloadRequested() {
            view.reloadingPage = true
            view.reload()
        }
    }
    onLoadingChanged: function(info) {
        if (info.status !== WebEngineView.LoadStartedStatus)
            view.reloadingPage = false
        if (!view.controller)
            return
        if (info.status === WebEngineView.LoadStartedStatus)
            view.controller.reportPageLoading()
        else
            view.controller.reportPageLoaded(info.status === WebEngineView.LoadSucceededStatus)
    }

    Timer {
        id: reloadTimer
        interval: 0
        onTriggered: view.reload()
    }

    // Given up on: a plain message where the drawing would be, and a way to try again.
    Rectangle {
        objectName: "canvasFailed"
        anchors.fill: parent
        visible: view.controller !== null && view.controller.pageFailed
        color: Theme.canvasPaper
        Accessible.role: Accessible.AlertMessage
        Accessible.name: failedText.text

        Column {
            anchors.centerIn: parent
            spacing: 10
            Text {
                id: failedText
                textFormat: Text.PlainText
                anchors.horizontalCenter: parent.horizontalCenter
                text: qsTr("The canvas could not start.")
                color: Theme.canvasHint
                font.pixelSize: Theme.headline
            }
            Text {
                textFormat: Text.PlainText
                objectName: "canvasRetry"
                anchors.horizontalCenter: parent.horizontalCenter
                text: qsTr("Try again")
                color: Theme.canvasError
                font.pixelSize: Theme.body
                font.underline: retryHover.hovered
                HoverHandler {
                    id: retryHover
                    cursorShape: Qt.PointingHandCursor
                }
                TapHandler {
                    onTapped: view.controller.retryPage()
                }
                Accessible.role: Accessible.Button
                Accessible.name: text
                Accessible.onPressAction: view.controller.retryPage()
            }
        }
    }
    Timer {
        // The ping goes the way the commands go, so it answers only once the page has done all
        // that was sent before it, drawing included.
        interval: 500
        repeat: true
        running: view.controller !== null && !view.loading
        onTriggered: {
            if (view.pingSentAt === 0) {
                const sentAt = Date.now()
                view.pingSentAt = sentAt
                view.runJavaScript("0", function() {
                    if (view.pingSentAt === sentAt)
                        view.pingSentAt = 0
                })
            } else if (Date.now() - view.pingSentAt >= view.unresponsiveAfterMs) {
                view.pingSentAt = 0
                view.controller.endRenderProcess(view.renderProcessPid)
            }
        }
    }
    onNewWindowRequested: function(request) {
        // Left unhandled, the request opens nothing.
    }
    onJavaScriptDialogRequested: function(request) {
        request.accepted = true
        request.dialogReject()
    }
    onJavaScriptConsoleMessage: function(level, message, lineNumber, sourceID) {
        if (controller)
            controller.logConsoleMessage(level, message, lineNumber, sourceID)
    }
}
