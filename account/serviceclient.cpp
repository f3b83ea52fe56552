#include "account/serviceclient.h"

#include <QHostAddress>

#include "account/keychain.h"
#include "base/settings.h"
#include "net/linestreamjob.h"
#include "net/replyjob.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QThread>

namespace {

std::optional<QUrl> &cachedBaseURL()
{
    static std::optional<QUrl> base;
    return base;
}

std::optional<QUrl> baseURLOverride()
{
    const std::optional<QString> stored = Settings::shared().serviceBaseURL();
    if (!stored)
        return std::nullopt;
    return ServiceClient::baseURLFrom(*stored);
}

} // namespace

std::optional<QUrl> ServiceClient::baseURLFrom(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return std::nullopt;
    // Plain http would carry the token and the OpenRouter key in the clear past this machine.
    if (url.scheme() != QLatin1String("https") && !(url.scheme() == QLatin1String("http") && isLoopback(url)))
        return std::nullopt;
    return url;
}

bool ServiceClient::isLoopback(const QUrl &url)
{
    const QString host = url.host().toLower();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

QUrl ServiceClient::baseURL()
{
    std::optional<QUrl> &base = cachedBaseURL();
    if (!base)
        base = baseURLOverride().value_or(defaultBaseURL());
    return *base;
}

QUrl ServiceClient::webAddress(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")))
        return QUrl();
    return url;
}

void ServiceClient::resetBaseURLForTesting()
{
    cachedBaseURL().reset();
}

QUrl ServiceClient::endpoint(const QString &relativePath)
{
    return endpoint(baseURL(), relativePath);
}

QUrl ServiceClient::endpoint(const QUrl &base, const QString &relativePath)
{
    QUrl url = base.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    QString path = url.path(QUrl::FullyEncoded);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    QString relative = relativePath;
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    url.setPath(path + QLatin1Char('/') + relative, QUrl::TolerantMode);
    return url;
}

std::optional<QNetworkRequest> ServiceClient::request(const QString &path, Auth auth, int timeoutMs)
{
    QNetworkRequest request(endpoint(path));
    if (auth == Auth::Required) {
        // Taken now, never remembered here: signing out or in elsewhere takes effect on the next request.
        const std::optional<QString> token = Keychain::value(Keychain::apiTokenItem);
        if (!token || token->isEmpty())
            return std::nullopt;
        request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    }
    request.setTransferTimeout(timeoutMs);
    // The token must not follow a redirect to somewhere else.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    return request;
}

std::optional<ServiceRequest> ServiceClient::jsonRequest(const QString &path, Auth auth, int timeoutMs,
                                                         const QJsonObject &body)
{
    std::optional<QNetworkRequest> built = request(path, auth, timeoutMs);
    if (!built)
        return std::nullopt;
    built->setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    return ServiceRequest{*built, jsonBody(body)};
}

QByteArray ServiceClient::jsonBody(const QJsonObject &body)
{
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QNetworkAccessManager *ServiceClient::network()
{
    // Owned by the application object, so it goes before Qt's own networking is torn down; the
    // guard only notices that it has gone.
    static QPointer<QNetworkAccessManager> shared;
    if (!shared) {
        QCoreApplication *application = QCoreApplication::instance();
        Q_ASSERT(application && QThread::currentThread() == application->thread());
        shared = new QNetworkAccessManager(application);
    }
    return shared;
}

QNetworkReply *ServiceClient::send(const ServiceCall &call, const std::optional<QJsonObject> &body,
                                   std::optional<int> timeoutMs)
{
    const QString path = QString::fromLatin1(call.path);
    const int timeout = timeoutMs.value_or(call.timeoutMs);
    const QByteArray method(call.method);
    if (body) {
        const std::optional<ServiceRequest> built = jsonRequest(path, call.auth, timeout, *body);
        if (!built)
            return nullptr;
        return network()->sendCustomRequest(built->request, method, built->body);
    }
    const std::optional<QNetworkRequest> built = request(path, call.auth, timeout);
    if (!built)
        return nullptr;
    if (method == "GET")
        return network()->get(*built);
    return network()->sendCustomRequest(*built, method);
}

JsonReplyJob::JsonReplyJob(QNetworkReply *reply, QObject *parent)
    : QObject(parent), m_job(new ReplyJob(reply, 0, this))
{
    qRegisterMetaType<JsonReply>();
    connect(m_job, &ReplyJob::finished, this, &JsonReplyJob::onFinished);
}

// The reply job is a child: it closes the request as it goes.
JsonReplyJob::~JsonReplyJob() = default;

JsonReplyJob *JsonReplyJob::send(const ServiceCall &call, QObject *owner,
                                 const std::optional<QJsonObject> &body, std::optional<int> timeoutMs)
{
    QNetworkReply *reply = ServiceClient::send(call, body, timeoutMs);
    if (!reply)
        return nullptr;
    return new JsonReplyJob(reply, owner);
}

void JsonReplyJob::cancel()
{
    m_job->cancel();
}

void JsonReplyJob::onFinished(int status, const QByteArray &body, const std::optional<StreamFailure> &failure)
{
    JsonReply result;
    result.httpStatus = status;
    // An HTTP error status is an answer like any other: the service explains itself in the body.
    result.received = !failure;
    if (failure)
        result.errorDescription = failure->description;
    if (result.received) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
        if (parseError.error == QJsonParseError::NoError && document.isObject())
            result.object = document.object();
    }
    deleteLater();
    Q_EMIT finished(result);
}
