#include "account/generationstream.h"

#include "account/keychain.h"
#include "account/publisherror.h"
#include "account/serviceclient.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QTimer>

GenerationEvent GenerationEvent::from(const QJsonObject &event)
{
    const auto text = [&event](const char *name) -> std::optional<QString> {
        const QJsonValue value = event.value(QLatin1String(name));
        return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
    };
    GenerationEvent read;
    if (const std::optional<QString> url = text("url"))
        read.published = ServiceClient::webAddress(*url);
    read.thinking = text("r");
    read.answer = text("c");
    read.error = text("error");
    read.done = event.contains(QLatin1String("done"));
    read.svg = text("svg");
    return read;
}

GenerationStream::GenerationStream(QNetworkReply *reply, QObject *parent) : LineStreamJob(reply, 0, parent) {}

QJsonObject GenerationStream::body(const GenerationRequest &request)
{
    QJsonObject body{
        {QStringLiteral("prompt"), request.prompt},
        {QStringLiteral("model_id"), request.model},
        {QStringLiteral("model_label"), request.modelLabel},
        {QStringLiteral("paid_with"), request.payWith},
    };
    if (request.image) {
        body.insert(QStringLiteral("image_base64"), request.image->base64);
        body.insert(QStringLiteral("image_content_type"), request.image->contentType);
    }
    return body;
}

GenerationStream *GenerationStream::start(const GenerationRequest &request, QObject *owner)
{
    const ServiceCall &call = ServiceCalls::streamGeneration;
    std::optional<ServiceRequest> built =
        ServiceClient::jsonRequest(QString::fromLatin1(call.path), call.auth, call.timeoutMs, body(request));
    if (!built) {
        auto *stream = new GenerationStream(nullptr, owner);
        QTimer::singleShot(0, stream, [stream] {
            if (stream->isDone())
                return;
            stream->end();
            Q_EMIT stream->finished(PublishError::notSignedIn().description());
        });
        return stream;
    }
    // The user's own key travels only with a generation they chose to pay with it.
    if (request.payWith == QLatin1String("key")) {
        if (const std::optional<QString> key = Keychain::value(Keychain::openRouterKeyItem))
            built->request.setRawHeader("X-Openrouter-Key", key->toUtf8());
    }
    QNetworkReply *reply = ServiceClient::network()->post(built->request, built->body);
    return new GenerationStream(reply, owner);
}

bool GenerationStream::handleResponseStart(int httpStatus)
{
    if (httpStatus == 200)
        return true;
    // Whatever the body says is not shown: the status is the message.
    end();
    Q_EMIT finished(
        PublishError::server(PublishError::tr("generation failed (HTTP %1)").arg(httpStatus)).description());
    return false;
}

bool GenerationStream::handleLine(QByteArrayView line)
{
    if (line.isEmpty())
        return true;
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray());
    if (document.isObject())
        Q_EMIT eventReceived(document.object());
    return true;
}

void GenerationStream::onBodyEnded()
{
    Q_EMIT finished(std::nullopt);
}

void GenerationStream::onFailure(const StreamFailure &failure)
{
    Q_EMIT finished(failure.description);
}
