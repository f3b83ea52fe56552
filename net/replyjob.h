#pragma once

#include "net/linestreamjob.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>

// A one-shot HTTP exchange whose body is read whole. Owns its reply; cancel() or deleting the job
// closes the request. Emits finished() exactly once (never after cancel()): with the status (0
// when no response arrived), the body, and the failure when the exchange did not complete.
class ReplyJob : public QObject
{
    Q_OBJECT

public:
    // A body larger than this is a broken or hostile server, not a reply worth keeping in memory.
    static constexpr qsizetype MaxBodyBytes = 64 * 1024 * 1024;

    ReplyJob(QNetworkReply *reply, qint64 totalLimitMs, QObject *parent);
    ~ReplyJob() override;

    void cancel();

Q_SIGNALS:
    void finished(int status, const QByteArray &body, const std::optional<StreamFailure> &failure);

private:
    void onReadyRead();
    void onFinished();
    void release();
    void complete(int status, const std::optional<StreamFailure> &failure);

    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    QTimer m_totalLimit;
    bool m_done = false;
};
