#include "canvas/canvascontroller.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaObject>

CanvasController::CanvasController(QObject *parent) : QObject(parent) {}

void CanvasController::setWebView(QObject *view)
{
    m_webView = view;
}

void CanvasController::resetCanvas()
{
    evaluate(QStringLiteral("window.resetCanvas && window.resetCanvas()"));
}

void CanvasController::applyDelta(const QString &text)
{
    evaluate(QStringLiteral("window.applyDelta && window.applyDelta(") + js(text) + QLatin1Char(')'));
}

void CanvasController::finish(const std::optional<QString> &svg)
{
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

void CanvasController::evaluate(const QString &script)
{
    if (!m_webView)
        return;
    QMetaObject::invokeMethod(m_webView.data(), "runJavaScript", Qt::DirectConnection, Q_ARG(QString, script));
}
