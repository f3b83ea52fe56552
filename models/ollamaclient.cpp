#include "models/ollamaclient.h"

#include <QCollator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>

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

// A reply line as a JSON object; nothing for a blank line, plain text or any other JSON.
std::optional<QJsonObject> lineObject(QByteArrayView line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray());
    if (!document.isObject())
        return std::nullopt;
    return document.object();
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
{}

bool ChatStream::handleLine(QByteArrayView line)
{
    if (isBlank(line))
        return true;
    const std::optional<QJsonObject> parsed = lineObject(line);
    if (!parsed)
        return true;
    const QJsonObject &object = *parsed;
    if (const auto error = stringMember(object, kError)) {
        end();
        Q_EMIT finished(OllamaError::badResponse(*error));
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
    Q_EMIT element(piece);
    return true;
}

void ChatStream::onBodyEnded()
{
    Q_EMIT finished(std::nullopt);
}

void ChatStream::onFailure(const StreamFailure &failure)
{
    if (failure.kind == StreamFailure::Kind::ConnectionRefused)
        Q_EMIT finished(OllamaError::notRunning());
    else
        Q_EMIT finished(OllamaError::other(failure.description));
}

QUrl OllamaClient::baseFor(const QString &overrideText)
{
    const QUrl fixed(QStringLiteral("http://localhost:11434"));
    if (overrideText.isEmpty())
        return fixed;
    const QUrl candidate(overrideText, QUrl::StrictMode);
    const QString host = candidate.host();
    const bool loopback = host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") ||
                          host == QLatin1String("::1");
    if (!candidate.isValid() || candidate.scheme() != QLatin1String("http") || !loopback ||
        candidate.port() <= 0 || !candidate.userInfo().isEmpty())
        return fixed;
    QUrl base;
    base.setScheme(candidate.scheme());
    base.setHost(host);
    base.setPort(candidate.port());
    return base;
}

QUrl OllamaClient::defaultBase()
{
    return baseFor(qEnvironmentVariable("DRAVLIN_OLLAMA_URL"));
}

OllamaClient::OllamaClient(QObject *parent, const QUrl &base) : QObject(parent), m_base(base)
{
    qRegisterMetaType<ChatElement>();
    qRegisterMetaType<std::optional<OllamaError>>();
    qRegisterMetaType<QList<OllamaModel>>();
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
    // Idle limits, not a total one: a long generation lives as long as lines keep coming. Until the
    // first line the wait is the model's load.
    request.setTransferTimeout(int(m_limits.chatFirstLineMs));
    const QJsonObject body{
        {QStringLiteral("model"), model},
        {QStringLiteral("messages"), messages},
        {QStringLiteral("stream"), true},
        {QStringLiteral("keep_alive"), QStringLiteral("10m")},
    };
    QNetworkReply *reply = m_network.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    auto *stream = new ChatStream(reply, m_limits.resourceMs, owner);
    stream->setIdleLimitAfterFirstLine(m_limits.chatIdleMs);
    return stream;
}

// ---- model management ----

namespace {
const QString kModels = QStringLiteral("models");

QJsonObject modelBody(const QString &model)
{
    return QJsonObject{{QStringLiteral("model"), model}};
}

// The first bytes of a body as text for a message, or nothing when the cut is not valid UTF-8.
QString bodyStart(const QByteArray &body)
{
    const QByteArray head = body.left(200);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(head);
    if (decoder.hasError())
        return QString();
    return text;
}
} // namespace

QDateTime ListModelsJob::parseDate(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})[Tt](\d{2}):(\d{2}):(\d{2})(?:\.(\d{1,9}))?(?:([Zz])|([+-])(\d{2}):(\d{2}))$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return {};
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    const QString fraction = match.captured(7);
    const int millis = fraction.isEmpty() ? 0 : (fraction + QStringLiteral("00")).left(3).toInt();
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt(), millis);
    if (!date.isValid() || !time.isValid())
        return {};
    int offsetSeconds = 0;
    if (match.captured(8).isEmpty()) {
        const int hours = match.captured(10).toInt();
        const int minutes = match.captured(11).toInt();
        if (hours > 23 || minutes > 59)
            return {};
        offsetSeconds = (hours * 60 + minutes) * 60 * (match.captured(9) == QLatin1String("-") ? -1 : 1);
    }
    return QDateTime(date, time, Qt::OffsetFromUTC, offsetSeconds);
}

std::variant<QList<OllamaModel>, OllamaError> ListModelsJob::decode(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonValue list = document.isObject() ? document.object().value(kModels) : QJsonValue();
    bool usable = list.isArray();
    const QJsonArray entries = list.toArray();
    for (const QJsonValue &entry : entries)
        usable = usable && entry.isObject();
    if (!usable)
        return OllamaError::badResponse(bodyStart(body));

    QList<OllamaModel> models;
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        const QJsonValue name = entry.value(QStringLiteral("name"));
        if (!name.isString())
            continue;
        OllamaModel model;
        model.name = name.toString();
        const QJsonValue size = entry.value(QStringLiteral("size"));
        model.sizeBytes = size.isDouble() ? size.toInteger() : 0;
        const QJsonValue modified = entry.value(QStringLiteral("modified_at"));
        if (modified.isString())
            model.modifiedAt = parseDate(modified.toString());
        const QJsonValue capabilities = entry.value(QStringLiteral("capabilities"));
        bool allStrings = capabilities.isArray();
        const QJsonArray capabilityList = capabilities.toArray();
        for (const QJsonValue &capability : capabilityList)
            allStrings = allStrings && capability.isString();
        if (allStrings) {
            model.tools = capabilityList.contains(QStringLiteral("tools"));
            model.vision = capabilityList.contains(QStringLiteral("vision"));
        } else {
            // Servers from before capabilities were reported: assume tools, no vision.
            model.tools = true;
            model.vision = false;
        }
        models.append(model);
    }

    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(models.begin(), models.end(), [&](const OllamaModel &a, const OllamaModel &b) {
        if (a.tools != b.tools)
            return a.tools;
        return collator.compare(a.name, b.name) < 0;
    });
    return models;
}

ListModelsJob::ListModelsJob(ReplyJob *reply, QObject *parent) : QObject(parent), m_reply(reply)
{
    reply->setParent(this);
    connect(reply, &ReplyJob::finished, this,
            [this](int, const QByteArray &body, const std::optional<StreamFailure> &failure) {
                if (failure) {
                    Q_EMIT finished({}, OllamaError::notRunning());
                    return;
                }
                auto result = decode(body);
                if (auto *error = std::get_if<OllamaError>(&result))
                    Q_EMIT finished({}, *error);
                else
                    Q_EMIT finished(std::get<QList<OllamaModel>>(result), std::nullopt);
            });
}

void ListModelsJob::cancel()
{
    m_reply->cancel();
}

DeleteModelJob::DeleteModelJob(ReplyJob *reply, QObject *parent) : QObject(parent), m_reply(reply)
{
    reply->setParent(this);
    connect(reply, &ReplyJob::finished, this,
            [this](int status, const QByteArray &body, const std::optional<StreamFailure> &failure) {
                if (failure) {
                    Q_EMIT finished(OllamaError::other(failure->description));
                    return;
                }
                if (status == 200) {
                    Q_EMIT finished(std::nullopt);
                    return;
                }
                const QJsonDocument document = QJsonDocument::fromJson(body);
                const auto message = stringMember(document.object(), kError);
                Q_EMIT finished(OllamaError::badResponse(message.value_or(OllamaError::tr("delete failed"))));
            });
}

void DeleteModelJob::cancel()
{
    m_reply->cancel();
}

PullStream::PullStream(QNetworkReply *reply, qint64 totalLimitMs, QObject *parent)
    : LineStreamJob(reply, totalLimitMs, parent)
{}

bool PullStream::handleResponseStart(int httpStatus)
{
    if (httpStatus != 200)
        m_refusedStatus = httpStatus;
    return true;
}

bool PullStream::handleLine(QByteArrayView line)
{
    if (m_refusedStatus != 0) {
        // A refusal is judged at the end, from as much of it as an error object needs: a server
        // that keeps sending is not kept in memory.
        m_refusedBody +=
            line.first(qMin(line.size(), qMax<qsizetype>(0, refusalKeptBytes - m_refusedBody.size())));
        return true;
    }
    const std::optional<QJsonObject> parsed = lineObject(line);
    if (!parsed)
        return true;
    if (const auto error = stringMember(*parsed, kError)) {
        end();
        Q_EMIT finished(OllamaError::badResponse(*error));
        return false;
    }
    const QJsonObject &object = *parsed;
    const QJsonValue total = object.value(QStringLiteral("total"));
    const QJsonValue completed = object.value(QStringLiteral("completed"));
    // A fraction too large to be a number (a huge count over a tiny total) is no progress at all.
    if (total.isDouble() && total.toDouble() > 0 && completed.isDouble()) {
        const double fraction = completed.toDouble() / total.toDouble();
        if (std::isfinite(fraction))
            Q_EMIT progress(fraction);
    }
    return true;
}

void PullStream::onBodyEnded()
{
    if (m_refusedStatus == 0) {
        Q_EMIT finished(std::nullopt);
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(m_refusedBody);
    if (const auto error = stringMember(document.object(), kError)) {
        Q_EMIT finished(OllamaError::badResponse(*error));
        return;
    }
    const QString text = bodyStart(m_refusedBody).trimmed();
    if (!text.isEmpty()) {
        Q_EMIT finished(OllamaError::badResponse(text));
        return;
    }
    Q_EMIT finished(OllamaError::badResponse(OllamaError::tr("pull failed (HTTP %1)").arg(m_refusedStatus)));
}

void PullStream::onFailure(const StreamFailure &failure)
{
    Q_EMIT finished(OllamaError::other(failure.description));
}

ListModelsJob *OllamaClient::listModels(QObject *owner)
{
    QNetworkRequest request(endpoint(QStringLiteral("api/tags")));
    request.setTransferTimeout(int(m_limits.requestIdleMs));
    auto *reply = new ReplyJob(m_network.get(request), m_limits.resourceMs, nullptr);
    return new ListModelsJob(reply, owner);
}

PullStream *OllamaClient::pull(const QString &model, QObject *owner)
{
    QNetworkRequest request(endpoint(QStringLiteral("api/pull")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(int(m_limits.pullIdleMs));
    QJsonObject body = modelBody(model);
    body.insert(QStringLiteral("stream"), true);
    QNetworkReply *reply = m_network.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    return new PullStream(reply, 0, owner);
}

DeleteModelJob *OllamaClient::deleteModel(const QString &model, QObject *owner)
{
    QNetworkRequest request(endpoint(QStringLiteral("api/delete")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(int(m_limits.managementIdleMs));
    QNetworkReply *reply = m_network.sendCustomRequest(
        request, QByteArrayLiteral("DELETE"), QJsonDocument(modelBody(model)).toJson(QJsonDocument::Compact));
    return new DeleteModelJob(new ReplyJob(reply, m_limits.resourceMs, nullptr), owner);
}
