#include "net/replyjob.h"

#include <QCoreApplication>

ReplyJob::ReplyJob(QNetworkReply *reply, qint64 totalLimitMs, QObject *parent)
    : QObject(parent), m_reply(reply)
{
    connect(reply, &QNetworkReply::readyRead, this, &ReplyJob::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &ReplyJob::onFinished);
    if (totalLimitMs > 0) {
        m_totalLimit.setSingleShot(true);
        m_totalLimit.setInterval(std::chrono::milliseconds(totalLimitMs));
        connect(&m_totalLimit, &QTimer::timeout, this, [this] {
            if (m_reply)
                m_reply->abort();
        });
        m_totalLimit.start();
    }
}

ReplyJob::~ReplyJob()
{
    release();
}

void ReplyJob::cancel()
{
    m_done = true;
    release();
}

void ReplyJob::release()
{
    m_totalLimit.stop();
    releaseReply(m_reply, this);
}

void ReplyJob::onReadyRead()
{
    if (m_done || !m_reply)
        return;
    m_body += m_reply->read(MaxBodyBytes + 1 - m_body.size());
    if (m_body.size() > MaxBodyBytes) {
        complete(m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                 StreamFailure{StreamFailure::Kind::LineTooLong,
                               QCoreApplication::translate("Network", "The reply was too large.")});
    }
}

void ReplyJob::onFinished()
{
    if (m_done || !m_reply)
        return;
    onReadyRead();
    if (m_done)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    complete(status, transportFailure(m_reply));
}

void ReplyJob::complete(int status, const std::optional<StreamFailure> &failure)
{
    m_done = true;
    release();
    Q_EMIT finished(status, m_body, failure);
}
