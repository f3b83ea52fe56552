#pragma once

#include "models/ollamaerror.h"
#include "models/ollamamodel.h"
#include "net/linestreamjob.h"
#include "net/replyjob.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>

#include <optional>
#include <variant>

// One piece of a chat reply: answer text, thinking text, or both. At least one is present and
// non-empty; a present one may be empty when the other is not.
struct ChatElement
{
    std::optional<QString> content;
    std::optional<QString> thinking;
};

// The streamed reply of one chat request. Emits element() per usable reply line, then finished()
// once: with no error when the body ended, with the error otherwise. After cancel() nothing more is
// emitted; the request is closed at once.
class ChatStream : public LineStreamJob
{
    Q_OBJECT

public:
    ChatStream(QNetworkReply *reply, qint64 totalLimitMs, QObject *parent);

Q_SIGNALS:
    void element(const ChatElement &element);
    void finished(const std::optional<OllamaError> &error);

protected:
    bool handleLine(QByteArrayView line) override;
    void onBodyEnded() override;
    void onFailure(const StreamFailure &failure) override;
};

// Listing the installed models: finished() once with the models, or with the error.
class ListModelsJob : public QObject
{
    Q_OBJECT

public:
    ListModelsJob(ReplyJob *reply, QObject *parent);
    void cancel();

    // The listing rules, apart from the network: a body that is not a listing is badResponse
    // with the start of the body; the result is sorted tool-capable first, then by name.
    static std::variant<QList<OllamaModel>, OllamaError> decode(const QByteArray &body);
    // An internet date-time (RFC 3339) with 0 to 9 fractional digits and a zone; invalid if not.
    static QDateTime parseDate(const QString &text);

Q_SIGNALS:
    void finished(const QList<OllamaModel> &models, const std::optional<OllamaError> &error);

private:
    ReplyJob *m_reply;
};

// Deleting a model: finished() once, with the error when the server refused or was unreachable.
class DeleteModelJob : public QObject
{
    Q_OBJECT

public:
    DeleteModelJob(ReplyJob *reply, QObject *parent);
    void cancel();

Q_SIGNALS:
    void finished(const std::optional<OllamaError> &error);

private:
    ReplyJob *m_reply;
};

// A model download: progress() per progress line (the line's own completed/total, neither
// accumulated nor clamped), then finished() once. The end of the stream is the only success.
class PullStream : public LineStreamJob
{
    Q_OBJECT

public:
    PullStream(QNetworkReply *reply, qint64 totalLimitMs, QObject *parent);

Q_SIGNALS:
    void progress(double fraction);
    void finished(const std::optional<OllamaError> &error);

protected:
    bool handleResponseStart(int httpStatus) override;
    bool handleLine(QByteArrayView line) override;
    void onBodyEnded() override;
    void onFailure(const StreamFailure &failure) override;

private:
    // Enough for any error object the server writes.
    static constexpr qsizetype refusalKeptBytes = 64 * 1024;
    int m_refusedStatus = 0; // non-zero once the server answered with another status than 200
    QByteArray m_refusedBody;
};

// Client of the local model server.
class OllamaClient : public QObject
{
    Q_OBJECT

public:
    // The fixed local address, unless a demo or test run names another loopback server in
    // DRAVLIN_OLLAMA_URL (a stand-in on another port); any other address there is ignored, so the
    // override can never send prompts off the machine.
    static QUrl defaultBase();
    static QUrl baseFor(const QString &overrideText);

    // Long local generations must not be cut short: requests without a shorter limit of their own
    // may idle for half an hour, and no request but a download may take more than two hours in all.
    struct Limits
    {
        qint64 requestIdleMs = 1800 * 1000;
        qint64 resourceMs = 7200 * 1000;
        // The server sends nothing while it loads the model, which from a slow disk takes minutes
        // (its own load limit is five); after the first line, a minute of silence is a stall.
        qint64 chatFirstLineMs = 300 * 1000;
        qint64 chatIdleMs = 60 * 1000;
        // A download of many gigabytes may take hours, and the server is silent while it verifies
        // the digest of a large file.
        qint64 pullIdleMs = 300 * 1000;
        qint64 managementIdleMs = 60 * 1000; // delete
    };

    explicit OllamaClient(QObject *parent = nullptr, const QUrl &base = defaultBase());

    QUrl base() const { return m_base; }
    void setBase(const QUrl &base) { m_base = base; }
    Limits limits() const { return m_limits; }
    void setLimits(const Limits &limits) { m_limits = limits; }

    // Sends the chat request at once. The stream is parented to owner; deleting it (deleteLater)
    // or cancelling it closes the request.
    ChatStream *streamChat(const QString &model, const QJsonArray &messages, QObject *owner);

    // The installed models. Every transport failure counts as the server not running.
    ListModelsJob *listModels(QObject *owner);
    // Downloads a model into the server, reporting progress.
    PullStream *pull(const QString &model, QObject *owner);
    // Removes a model from the server.
    DeleteModelJob *deleteModel(const QString &model, QObject *owner);

    // base with a relative endpoint path appended as path segments.
    QUrl endpoint(const QString &path) const;

private:
    QNetworkAccessManager m_network;
    QUrl m_base;
    Limits m_limits;
};

Q_DECLARE_METATYPE(ChatElement)
Q_DECLARE_METATYPE(QList<OllamaModel>)
Q_DECLARE_METATYPE(std::optional<OllamaError>)
