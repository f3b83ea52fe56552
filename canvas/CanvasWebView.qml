import QtQuick
import QtWebEngine
import Dravlin

// Hosts the canvas page. The page is driven only through the controller's commands; it may never
// leave its own document or open another window, whatever the model's text tries.
WebEngineView {
    id: view

    property CanvasController controller

    url: Qt.resolvedUrl("page/index.html")
    backgroundColor: "white"

    onControllerChanged: if (controller) controller.setWebView(view)
    Component.onCompleted: if (controller) controller.setWebView(view)

    onNavigationRequested: function(request) {
        if (request.url.toString() !== view.url.toString() || request.isMainFrame === false)
            request.action = WebEngineNavigationRequest.IgnoreRequest
    }
    onNewWindowRequested: function(request) {
        // Not accepting the request leaves it unopened.
    }
}
