#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMetaType>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
class ReplyJob;
struct StreamFailure;

// One kind of call to the Dravlin service: its method, its path below the base URL, whether it
// carries the account's token, and how long it may go without any data before it is given up.
struct ServiceCall
{
    enum class Auth { Required, None };

    const char *method;
    const char *path;
    Auth auth;
    int timeoutMs;
};

// Every call the app makes to the service. Streaming a generation waits on the model, so it may
// stay silent far longer than anything else.
namespace ServiceCalls {
inline constexpr ServiceCall me{"GET", "api/v1/me", ServiceCall::Auth::Required, 15'000};
inline constexpr ServiceCall exchangeCode{"POST", "api/v1/auth/exchange", ServiceCall::Auth::None, 60'000};
inline constexpr ServiceCall streamGeneration{"POST", "api/v1/generations", ServiceCall::Auth::Required,
                                              600'000};
inline constexpr ServiceCall publishDrawing{"POST", "api/v1/drawings", ServiceCall::Auth::Required, 60'000};
inline constexpr ServiceCall fetchFavorites{"GET", "api/v1/favorites", ServiceCall::Auth::Required, 15'000};
inline constexpr ServiceCall saveFavorites{"PUT", "api/v1/favorites", ServiceCall::Auth::Required, 15'000};
inline constexpr ServiceCall latestAppVersion{"GET", "api/app_version", ServiceCall::Auth::None, 15'000};
inline constexpr ServiceCall recommendedModels{"GET", "api/v1/recommended_models", ServiceCall::Auth::None,
                                               15'000};
} // namespace ServiceCalls

// Pages of the service's web site the app opens in the browser, relative to the base URL.
namespace ServicePages {
inline constexpr const char *signIn = "oauth/mac";
// The download that fits the platform the app runs on.
#ifdef Q_OS_MACOS
inline constexpr const char *download = "download/mac";
#else
inline constexpr const char *download = "download/linux";
#endif
} // namespace ServicePages

// A request ready to send with the bytes of its JSON body.
struct ServiceRequest
{
    QNetworkRequest request;
    QByteArray body;
};

// The conventions every service request follows, in one place: where the service is, how a
// request is addressed, authorised and timed, and the one network session they all share.
class ServiceClient
{
public:
    using Auth = ServiceCall::Auth;

    static constexpr int defaultTimeoutMs = 60'000;

    static QUrl defaultBaseURL() { return QUrl(QStringLiteral("https://dravlin.app")); }
    // The service's origin for this process: the "DravlinBaseURL" preference when it holds an
    // absolute https URL with a host (or http on this machine: the token and key travel in it),
    // the default otherwise. Read once, on first use.
    static QUrl baseURL();
    // Whether a URL's host is this machine (a loopback address, or "localhost").
    static bool isLoopback(const QUrl &url);
    // The base URL the preference text gives, or nothing.
    static std::optional<QUrl> baseURLFrom(const QString &text);
    // Forgets the base URL read so far; the next use reads the preference again.
    static void resetBaseURLForTesting();

    // text as an absolute http(s) address, or an empty URL for anything else: an address from the
    // network is only ever offered as a web page, never as a file or another program's link.
    static QUrl webAddress(const QString &text);

    // relativePath below the base URL, with exactly one slash between the two.
    static QUrl endpoint(const QString &relativePath);
    static QUrl endpoint(const QUrl &base, const QString &relativePath);

    // The request for a path below the base URL. With Auth::Required it carries the token stored
    // at this moment; when none is stored there is no request, and nothing must be sent.
    // timeoutMs is an idle limit: the time allowed without any data moving.
    static std::optional<QNetworkRequest> request(const QString &path, Auth auth,
                                                  int timeoutMs = defaultTimeoutMs);
    // The same with a JSON body: the body serialised compactly and its content type set.
    static std::optional<ServiceRequest> jsonRequest(const QString &path, Auth auth, int timeoutMs,
                                                     const QJsonObject &body);
    static QByteArray jsonBody(const QJsonObject &body);

    // The network session every service request goes through. Created on first use, on the main
    // thread, and owned by the application object.
    static QNetworkAccessManager *network();

    // Builds and sends a call, with a JSON body when one is given. nullptr when the call needs a
    // token and none is stored: nothing was sent. timeoutMs overrides the call's own limit.
    static QNetworkReply *send(const ServiceCall &call, const std::optional<QJsonObject> &body = std::nullopt,
                               std::optional<int> timeoutMs = std::nullopt);
};

// How a request whose answer is a single JSON object went.
struct JsonReply
{
    // False when no whole answer arrived: no connection, a timeout, a cancellation, a cut-off body.
    bool received = false;
    // The HTTP status, 0 when none arrived. The service puts errors in the body too, so most
    // callers go by the body alone.
    int httpStatus = 0;
    // The body when it parsed as a JSON object; none for anything else (an array, not JSON, empty).
    std::optional<QJsonObject> object;
    // Why nothing whole arrived, in words for the user, when received is false.
    QString errorDescription;
};

// Owns one service reply and reads it whole, up to the cap every reply has (a larger one is not
// received): emits finished() once when it ends, then deletes itself later. An HTTP error status is
// not a failure: the body is read and judged all the same. Deleting the job or calling cancel()
// first closes the request; finished() is then never emitted.
class JsonReplyJob : public QObject
{
    Q_OBJECT

public:
    JsonReplyJob(QNetworkReply *reply, QObject *parent);
    ~JsonReplyJob() override;

    // Sends a call and returns the job reading its answer, parented to owner; nullptr when nothing
    // was sent (see ServiceClient::send).
    static JsonReplyJob *send(const ServiceCall &call, QObject *owner,
                              const std::optional<QJsonObject> &body = std::nullopt,
                              std::optional<int> timeoutMs = std::nullopt);

    void cancel();

Q_SIGNALS:
    void finished(const JsonReply &reply);

private:
    void onFinished(int status, const QByteArray &body, const std::optional<StreamFailure> &failure);

    ReplyJob *m_job;
};

Q_DECLARE_METATYPE(JsonReply)
