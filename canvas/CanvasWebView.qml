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
    backgroundColor: "white"

    settings.javascriptCanOpenWindows: false
    settings.javascriptCanAccessClipboard: false
    settings.localContentCanAccessRemoteUrls: false
    settings.localContentCanAccessFileUrls: true
    settings.pluginsEnabled: false
    settings.errorPageEnabled: false
    settings.linksIncludedInFocusChain: false
    settings.navigateOnDropEnabled: false

    onControllerChanged: if (controller) controller.setWebView(view)

    onNavigationRequested: function(request) {
        // The first load of the page itself is the only navigation there will ever be.
        if (request.url !== view.pageUrl || !request.isMainFrame
                || request.navigationType !== WebEngineNavigationRequest.TypedNavigation)
            request.reject()
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
