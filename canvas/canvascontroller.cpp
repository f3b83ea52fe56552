#include "canvas/canvascontroller.h"

#include "base/logging.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QJSValue>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QMetaObject>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <sys/types.h>
#endif

CanvasController::CanvasController(QObject *parent) : QObject(parent)
{
    m_frame.setSingleShot(true);
    m_frame.setInterval(16);
    m_frame.setTimerType(Qt::PreciseTimer);
    connect(&m_frame, &QTimer::timeout, this, &CanvasController::flush);
}

void CanvasController::setFrameIntervalMs(int ms)
{
    flush();
    m_frame.stop();
    m_frame.setInterval(qMax(0, ms));
}

void CanvasController::setWebView(QObject *view)
{
    if (m_webView)
        disconnect(m_webView, &QObject::destroyed, this, nullptr);
    failPendingQueries();
    m_webView = view;
    // A stand-in view without a page of its own takes scripts at once; a web view only once its
    // page has loaded.
    const bool ready =
        view && (view->metaObject()->indexOfProperty("loadProgress") < 0 ||
                 (view->property("loadProgress").toInt() == 100 && !view->property("loading").toBool()));
    m_pageReady = false;
    if (ready)
        reportPageLoaded(true);
    // A view that goes away will never answer what it was asked.
    if (view)
        connect(view, &QObject::destroyed, this, &CanvasController::failPendingQueries);
}

void CanvasController::prepareEngine()
{
    // A cleared drawing's tree is garbage that the engine's collector gets to only under pressure:
    // fifty drawings in one window grew its page by half. With the collector in reach, the page
    // collects each time it is cleared, between runs. Switches of the user's own for the script
    // engine stand; the page then leaves collecting to the engine.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--js-flags"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + " --js-flags=--expose-gc");
}

QUrl CanvasController::pageUrl()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    // Beside the program, one level up (test programs live in a sub-folder of the build), in an
    // app bundle's resources, or installed under share/.
    const QStringList candidates{
        appDir + QStringLiteral("/Canvas/index.html"),
        appDir + QStringLiteral("/../Canvas/index.html"),
        appDir + QStringLiteral("/../Resources/Canvas/index.html"),
        appDir + QStringLiteral("/../share/dravlin/Canvas/index.html"),
    };
    for (const QString &candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile())
            return QUrl::fromLocalFile(info.canonicalFilePath());
    }
    return {};
}

void CanvasController::logConsoleMessage(int level, const QString &message, int line, const QString &source)
{
#ifdef QT_DEBUG
    qCDebug(lcCanvas).noquote() << "page console" << level << QStringLiteral("%1:%2").arg(source).arg(line)
                                << message;
#else
    Q_UNUSED(level);
    Q_UNUSED(message);
    Q_UNUSED(line);
    Q_UNUSED(source);
#endif
}

void CanvasController::reportPageLoading()
{
    m_readyBeforeLoad = m_pageReady;
    m_pageReady = false;
}

void CanvasController::reportPageLoaded(bool ok)
{
    // A navigation the view refused, or one that failed, leaves the page that was there.
    if (!ok && !m_readyBeforeLoad)
        return;
    m_pageReady = true;
    // A page that has just loaded plays animations: it is told first when they are to stand still.
    if (animationsPaused())
        evaluate(QStringLiteral("window.setAnimationsPaused && window.setAnimationsPaused(true)"));
    const QStringList waiting = std::exchange(m_waiting, {});
    for (const QString &script : waiting)
        evaluate(script);
    query(QStringLiteral("window.prefersReducedMotion ? window.prefersReducedMotion() : null"), this,
          [this](const QVariant &answer) {
              if (answer.typeId() == QMetaType::Bool)
                  setSystemReducedMotion(answer.toBool());
          });
}

void CanvasController::setAnimationsPaused(bool paused)
{
    const bool was = animationsPaused();
    m_pauseChoice = paused;
    updatePause(was);
}

void CanvasController::setSystemReducedMotion(bool reduced)
{
    const bool was = animationsPaused();
    m_systemReducedMotion = reduced;
    updatePause(was);
}

void CanvasController::updatePause(bool wasPaused)
{
    const bool paused = animationsPaused();
    if (paused == wasPaused)
        return;
    evaluate(QStringLiteral("window.setAnimationsPaused && window.setAnimationsPaused(%1)")
                 .arg(paused ? QStringLiteral("true") : QStringLiteral("false")));
    Q_EMIT animationsPausedChanged();
}

void CanvasController::resetCanvas()
{
    // Pieces held back belong to the drawing being cleared.
    m_pending.clear();
    m_waiting.clear();
    m_frame.stop();
    m_pageLost = false;
    m_drawing = false;
    evaluate(QStringLiteral("window.resetCanvas && window.resetCanvas()"));
}

void CanvasController::applyDelta(const QString &text)
{
    m_drawing = true;
    if (m_frame.interval() <= 0) {
        sendDelta(text);
        return;
    }
    if (m_frame.isActive()) {
        m_pending += text;
        return;
    }
    sendDelta(text);
    m_frame.start();
}

void CanvasController::flush()
{
    if (m_pending.isEmpty())
        return;
    sendDelta(std::exchange(m_pending, QString()));
    // Keep gathering while pieces keep coming; a frame with nothing to send ends the burst.
    if (m_frame.interval() > 0)
        m_frame.start();
}

void CanvasController::sendDelta(const QString &text)
{
    evaluate(QStringLiteral("window.applyDelta && window.applyDelta(") + js(text) + QLatin1Char(')'));
}

void CanvasController::finish(const std::optional<QString> &svg)
{
    flush();
    m_frame.stop();
    m_drawing = m_drawing || (svg && !svg->isEmpty());
    evaluate(QStringLiteral("window.finishDrawing && window.finishDrawing(") + js(svg.value_or(QString())) +
             QLatin1Char(')'));
}

QString CanvasController::js(const QString &text)
{
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    if (json.size() < 4 || json.front() != '[' || json.back() != ']')
        return QStringLiteral("\"\"");
    return QString::fromUtf8(json.constData() + 1, json.size() - 2);
}

int CanvasController::reportRenderProcessEnded()
{
    m_pending.clear();
    m_frame.stop();
    m_pageLost = true;
    if (!m_clock.isValid())
        m_clock.start();
    m_endedAtMs.append(m_clock.elapsed());
    const int delay = reloadDelayMs(m_endedAtMs);
    // Only what can still matter is kept.
    while (m_endedAtMs.size() > 4)
        m_endedAtMs.removeFirst();
    Q_EMIT renderProcessEnded();
    if (std::exchange(m_drawing, false))
        Q_EMIT drawingLost();
    if (delay < 0 && !m_pageFailed) {
        m_pageFailed = true;
        Q_EMIT pageFailedChanged();
    }
    return delay;
}

int CanvasController::reloadDelayMs(const QList<qint64> &endedAtMs)
{
    static constexpr qint64 kWindowMs = 60'000;
    static constexpr int kDelays[] = {0, 500, 2000};
    if (endedAtMs.isEmpty())
        return 0;
    const qint64 last = endedAtMs.last();
    const auto recent = std::count_if(endedAtMs.cbegin(), endedAtMs.cend(),
                                      [last](qint64 at) { return last - at < kWindowMs; });
    return recent <= qsizetype(std::size(kDelays)) ? kDelays[recent - 1] : -1;
}

void CanvasController::retryPage()
{
    if (!m_pageFailed)
        return;
    m_endedAtMs.clear();
    m_pageFailed = false;
    Q_EMIT pageFailedChanged();
    Q_EMIT reloadRequested();
}

void CanvasController::endRenderProcess(qint64 pid)
{
#ifdef Q_OS_UNIX
    // Never this process: with the engine in single-process mode the page runs inside it.
    if (pid > 0 && pid != QCoreApplication::applicationPid())
        ::kill(pid_t(pid), SIGKILL);
#else
    Q_UNUSED(pid);
#endif
}

void CanvasController::evaluate(const QString &script)
{
    if (m_pageLost)
        return;
    if (!m_webView || !m_pageReady) {
        m_waiting.append(script);
        return;
    }
    QMetaObject::invokeMethod(m_webView.data(), "runJavaScript", Qt::DirectConnection,
                              Q_ARG(QString, script));
}

void CanvasController::query(const QString &script, QObject *context, QueryCallback callback)
{
    flush();
    const int ticket = m_nextQuery++;
    m_queries.insert(ticket, {context, std::move(callback)});
    const bool sent = m_webView && !m_pageLost &&
                      m_webView->metaObject()->indexOfMethod("query(QVariant,QVariant)") >= 0 &&
                      QMetaObject::invokeMethod(m_webView.data(), "query", Qt::DirectConnection,
                                                Q_ARG(QVariant, script), Q_ARG(QVariant, ticket));
    if (!sent) {
        // Never from inside the call: callers may still be setting up.
        QTimer::singleShot(0, this, [this, ticket] { deliverQueryResult(ticket, QVariant()); });
    }
}

void CanvasController::deliverQueryResult(int ticket, const QVariant &answer)
{
    const PendingQuery pending = m_queries.take(ticket);
    if (!pending.context || !pending.callback)
        return;
    if (answer.userType() == qMetaTypeId<QJSValue>())
        pending.callback(answer.value<QJSValue>().toVariant());
    else
        pending.callback(answer);
}

void CanvasController::failPendingQueries()
{
    const QList<int> tickets = m_queries.keys();
    for (int ticket : tickets) {
        QTimer::singleShot(0, this, [this, ticket] { deliverQueryResult(ticket, QVariant()); });
    }
}

void CanvasController::requestDrawingSvg(QObject *context, std::function<void(const QString &)> done)
{
    query(QStringLiteral("window.drawingSvg ? window.drawingSvg() : ''"), context,
          [done](const QVariant &answer) {
              done(answer.typeId() == QMetaType::QString ? answer.toString() : QString());
          });
}

void CanvasController::requestDrawingPng(const PngOptions &options, QObject *context,
                                         std::function<void(const QByteArray &, const QString &)> done)
{
    const QJsonObject json{
        {QStringLiteral("scale"), options.scale},
        {QStringLiteral("width"), options.width},
        {QStringLiteral("background"), options.whiteBackground ? QStringLiteral("#ffffff") : QString()}};
    const QString script = QStringLiteral("window.startPngExport ? window.startPngExport(") +
                           QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) +
                           QStringLiteral(") : 0");
    const qint64 deadline = QDateTime::currentMSecsSinceEpoch() + m_pngTimeoutMs;
    QPointer<CanvasController> self(this);
    query(script, context, [self, deadline, context, done](const QVariant &answer) {
        const int ticket = answer.toInt();
        if (!answer.isValid() || !self)
            done({}, tr("The canvas is not available."));
        else if (ticket <= 0)
            done({}, tr("There is no drawing to export."));
        else
            self->pollPng(ticket, deadline, context, done);
    });
}

void CanvasController::pollPng(int ticket, qint64 deadline, QObject *context,
                               std::function<void(const QByteArray &, const QString &)> done)
{
    QPointer<CanvasController> self(this);
    query(QStringLiteral("window.takePngExport(%1)").arg(ticket), context,
          [self, ticket, deadline, context, done](const QVariant &answer) {
              if (!answer.isValid() || !self) {
                  done({}, tr("The canvas is not available."));
                  return;
              }
              if (answer.typeId() == QMetaType::QString) {
                  // Still rendering: ask again shortly, on the context's clock.
                  if (QDateTime::currentMSecsSinceEpoch() > deadline) {
                      done({}, tr("Rendering the drawing took too long."));
                      return;
                  }
                  QTimer::singleShot(15, context, [self, ticket, deadline, context, done] {
                      if (self)
                          self->pollPng(ticket, deadline, context, done);
                  });
                  return;
              }
              const QVariantMap result = answer.toMap();
              const QString url = result.value(QStringLiteral("png")).toString();
              const QLatin1String prefix("data:image/png;base64,");
              if (!url.startsWith(prefix)) {
                  const QString error = result.value(QStringLiteral("error")).toString();
                  // The page words its own failure as we do, so the same catalogue entry translates
                  // it; an engine's exception text stays as it is.
                  done({}, error.isEmpty() ? tr("The drawing could not be rendered.")
                                           : QCoreApplication::translate("CanvasController", error.toUtf8()));
                  return;
              }
              const QByteArray png = QByteArray::fromBase64(QStringView(url).mid(prefix.size()).toLatin1());
              if (png.isEmpty())
                  done({}, tr("The drawing could not be rendered."));
              else
                  done(png, QString());
          });
}
