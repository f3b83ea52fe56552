#pragma once

#include <functional>

#include "canvas/canvascontroller.h"
#include "testenvironment.h"

#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QVariant>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(DravlinPlugin)

// The real canvas page in the real engine (the production CanvasWebView), driven through a
// CanvasController exactly as the app drives it, with a way to read results back from the page.
class PageHarness
{
public:
    CanvasController controller;
    QQmlApplicationEngine engine;
    QQuickWindow *window = nullptr;
    QObject *view = nullptr;

    // Loads the page and waits until it has finished loading; false when it did not load.
    bool load(int width = 800, int height = 600)
    {
        const QString qml = QStringLiteral(R"(import QtQuick
import QtQuick.Window
import QtWebEngine
import Dravlin
Window {
    id: root
    width: %1; height: %2; visible: true
    signal evaluated(var result)
    signal pageLoaded(bool ok)
    property int dialogs: 0
    function evalJs(code) { canvas.runJavaScript(code, function(result) { root.evaluated(result) }) }
    CanvasWebView {
        id: canvas
        objectName: "canvas"
        anchors.fill: parent
        onLoadingChanged: (info) => { if (info.status >= WebEngineView.LoadSucceededStatus)
            root.pageLoaded(info.status === WebEngineView.LoadSucceededStatus) }
        onJavaScriptDialogRequested: root.dialogs += 1
    }
})");
        engine.addImportPath(QStringLiteral("qrc:/"));
        engine.loadData(qml.arg(width).arg(height).toUtf8(),
                        QUrl(QStringLiteral("qrc:/tests/CanvasHarness.qml")));
        window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        view = window ? window->findChild<QObject *>(QStringLiteral("canvas")) : nullptr;
        if (!view)
            return false;
        QSignalSpy loaded(window, SIGNAL(pageLoaded(bool)));
        // Every piece as its own call: the tests split the text on purpose.
        controller.setFrameIntervalMs(0);
        view->setProperty("controller", QVariant::fromValue(&controller));
        return loaded.wait(30000) && loaded.first().first().toBool();
    }

    // Runs the script in the page after every command issued so far and returns its result.
    QVariant eval(const QString &script)
    {
        QSignalSpy evaluated(window, SIGNAL(evaluated(QVariant)));
        QMetaObject::invokeMethod(window, "evalJs", Q_ARG(QVariant, script));
        if (!evaluated.wait(30000))
            return QVariant();
        const QVariant result = evaluated.first().first();
        return result.userType() == qMetaTypeId<QJSValue>() ? result.value<QJSValue>().toVariant() : result;
    }

    // Returns once the page has rendered `frames` more frames and then let a timer of `ms` run,
    // both on the page's own clock: for what happens in the page after a command rather than
    // during it (fades, burst handling, anything the page might try to load or navigate to).
    bool settle(int frames = 2, int ms = 0)
    {
        const int token = ++m_settleToken;
        eval(QStringLiteral("(() => { let left = %1;"
                            " const frame = () => { if (--left > 0) requestAnimationFrame(frame);"
                            " else setTimeout(() => { window.__harnessSettled = %2; }, %3); };"
                            " requestAnimationFrame(frame); })()")
                 .arg(frames)
                 .arg(token)
                 .arg(ms));
        return pollUntil(QStringLiteral("(window.__harnessSettled || 0) === %1").arg(token));
    }

    // Returns once no element of the drawing is fading in any more. The drawing's own animations
    // may go on.
    bool waitUntilStill()
    {
        // Elements that arrived fade in from the next frame on: let that frame come first.
        return settle(2) &&
               pollUntil(QStringLiteral("document.getElementById('stage').shadowRoot.getAnimations()"
                                        ".every((a) => a.id !== 'dravlin-arrive')"));
    }

    QImage grab() { return window->grabWindow(); }

    int dialogs() const { return window->property("dialogs").toInt(); }
    QUrl currentUrl() const { return view->property("url").toUrl(); }

private:
    // Each round trip spins the event loop; false when the page stops answering (gone or hung).
    bool pollUntil(const QString &condition)
    {
        for (int round = 0; round < 100000; ++round) {
            const QVariant done = eval(condition);
            if (!done.isValid())
                return false;
            if (done.toBool())
                return true;
        }
        return false;
    }

    int m_settleToken = 0;
};
