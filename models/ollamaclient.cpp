#include "models/ollamaclient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>

namespace {
const QString kError = QStringLiteral("error");
const QString kMessage = QStringLiteral("message");
const QString kContent = QStringLiteral("content");
const QString kThinking = QStringLiteral("thinking");

std::optional<QString> stringMember(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

bool isBlank(QByteArrayView line)
{
    for (char c : line) {
        if (c != ' ' && c != '\t')
            return false;
    }
    return true;
}
} // namespace

ChatStream::ChatStream(QNetworkReply *reply, qint64 totalLimitMs, QObject *parent)
    : LineStreamJob(reply, totalLimitMs, parent)
{
}

bool ChatStream::handleLine(QByteArrayView line)
{
    if (isBlank(line))
        return true;
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray());
    if (!document.isObject())
        return true;
    const QJsonObject object = document.object();
    if (const auto error = stringMember(object, kError)) {
        end();
        emit finished(OllamaError::badResponse(*error));
        return false;
    }
    const QJsonValue message = object.value(kMessage);
    if (!message.isObject())
        return true;
    const QJsonObject messageObject = message.toObject();
    ChatElement piece{stringMember(messageObject, kContent), stringMember(messageObject, kThinking)};
    const bool hasContent = piece.content && !piece.content->isEmpty();
    const bool hasThinking = piece.thinking && !piece.thinking->isEmpty();
    if (!hasContent && !hasThinking)
        return true;
    emit element(piece);
    return true;
}

void ChatStream::onBodyEnded()
{
    emit finished(std::nullopt);
}

void ChatStream::onFailure(const StreamFailure &failure)
{
    if (failure.kind == StreamFailure::Kind::ConnectionRefused)
        emit finished(OllamaError::notRunning());
    else
        emit finished(OllamaError::other(failure.description));
}

OllamaClient::OllamaClient(QObject *parent, const QUrl &base) : QObject(parent), m_base(base)
{
    qRegisterMetaType<ChatElement>();
    qRegisterMetaType<std::optional<OllamaError>>();
    m_network.setTransferTimeout(int(m_limits.requestIdleMs));
}

QUrl OllamaClient::endpoint(const QString &path) const
{
    QUrl url = m_base;
    QString basePath = url.path();
    if (!basePath.endsWith(QLatin1Char('/')))
        basePath += QLatin1Char('/');
    url.setPath(basePath + path);
    return url;
}

ChatStream *OllamaClient::streamChat(const QString &model, const QJsonArray &messages, QObject *owner)
{
    QNetworkRequest request(endpoint(QStringLiteral("api/chat")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // An idle limit, not a total one: a long generation lives as long as lines keep coming.
    request.setTransferTimeout(int(m_limits.chatIdleMs));
    const QJsonObject body{
        {QStringLiteral("model"), model},
        {QStringLiteral("messages"), messages},
        {QStringLiteral("stream"), true},
        {QStringLiteral("keep_alive"), QStringLiteral("10m")},
    };
    QNetworkReply *reply = m_network.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    return new ChatStream(reply, m_limits.resourceMs, owner);
}
