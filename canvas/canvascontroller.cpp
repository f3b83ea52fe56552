#include "canvas/canvascontroller.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QMetaObject>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <sys/types.h>
#endif

Q_LOGGING_CATEGORY(lcCanvas, "dravlin.canvas")

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
    m_webView = view;
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

void CanvasController::resetCanvas()
{
    // Pieces held back belong to the drawing being cleared.
    m_pending.clear();
    m_frame.stop();
    m_pageLost = false;
    evaluate(QStringLiteral("window.resetCanvas && window.resetCanvas()"));
}

void CanvasController::applyDelta(const QString &text)
{
    if (!m_webView)
        return;
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

void CanvasController::reportRenderProcessEnded()
{
    m_pending.clear();
    m_frame.stop();
    m_pageLost = true;
    emit renderProcessEnded();
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
    if (!m_webView || m_pageLost)
        return;
    QMetaObject::invokeMethod(m_webView.data(), "runJavaScript", Qt::DirectConnection,
                              Q_ARG(QString, script));
}
