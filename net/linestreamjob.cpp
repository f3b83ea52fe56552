#include "net/linestreamjob.h"

#include <QCoreApplication>

namespace {

// Qt turns HTTP error statuses into reply errors; for our servers the body decides, not the status.
bool isHttpStatusError(const QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || status.toInt() < 400)
        return false;
    switch (reply->error()) {
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

} // namespace

LineStreamJob::LineStreamJob(QNetworkReply *reply, qint64 totalLimitMs, QObject *parent)
    : QObject(parent), m_reply(reply)
{
    if (!reply)
        return; // a stream that ends before it could be sent
    connect(reply, &QNetworkReply::readyRead, this, &LineStreamJob::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &LineStreamJob::onFinished);
    m_idleLimit.setSingleShot(true);
    connect(&m_idleLimit, &QTimer::timeout, this, [this] {
        if (m_reply)
            m_reply->abort(); // arrives in onFinished as a cancelled transfer
    });
    if (totalLimitMs > 0) {
        m_totalLimit.setSingleShot(true);
        m_totalLimit.setInterval(std::chrono::milliseconds(totalLimitMs));
        connect(&m_totalLimit, &QTimer::timeout, this, [this] {
            if (m_reply)
                m_reply->abort(); // arrives in onFinished as a cancelled transfer
        });
        m_totalLimit.start();
    }
}

LineStreamJob::~LineStreamJob()
{
    releaseReply();
}

void LineStreamJob::cancel()
{
    if (m_done)
        return;
    m_cancelled = true;
    end();
}

void LineStreamJob::end()
{
    m_done = true;
    m_totalLimit.stop();
    m_idleLimit.stop();
    releaseReply();
}

void releaseReply(QPointer<QNetworkReply> &reply, QObject *receiver)
{
    if (!reply)
        return;
    QNetworkReply *released = reply;
    reply = nullptr;
    released->disconnect(receiver);
    // A reply that already carries an HTTP status error must not be given a second error by an
    // abort; deleting it closes its connection all the same.
    if (released->isRunning() && released->error() == QNetworkReply::NoError)
        released->abort();
    released->deleteLater();
}

void LineStreamJob::releaseReply()
{
    ::releaseReply(m_reply, this);
}

bool LineStreamJob::processLines(QByteArrayView bytes)
{
    QPointer<LineStreamJob> self(this);
    const bool ok = m_splitter.feed(bytes, [&](QByteArrayView line) {
        if (!m_sawLine) {
            m_sawLine = true;
            Q_EMIT firstLine();
            if (!self || m_done)
                return false;
        }
        return handleLine(line) && self && !m_done;
    });
    if (!self || m_done)
        return false;
    if (m_sawLine && m_idleAfterFirstLineMs > 0)
        m_idleLimit.start(std::chrono::milliseconds(m_idleAfterFirstLineMs));
    if (!ok && m_splitter.overflowed()) {
        fail({StreamFailure::Kind::LineTooLong,
              QCoreApplication::translate("Network", "The reply line was too long (over %1 MiB).")
                  .arg(m_splitter.maxLineBytes() / (1024 * 1024))});
        return false;
    }
    return ok;
}

void LineStreamJob::onReadyRead()
{
    if (m_done || !m_reply)
        return;
    if (!m_started) {
        m_started = true;
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        QPointer<LineStreamJob> self(this);
        if (!handleResponseStart(status.isValid() ? status.toInt() : 0) || !self || m_done)
            return;
    }
    const QByteArray chunk = m_reply->readAll();
    processLines(chunk);
}

void LineStreamJob::onFinished()
{
    if (m_done || !m_reply)
        return;
    if (const std::optional<StreamFailure> failure = transportFailure(m_reply)) {
        // Lines that arrived before the failure still count; a partial last line does not.
        if (m_reply->bytesAvailable() > 0)
            onReadyRead();
        if (!m_done)
            fail(*failure);
        return;
    }
    if (!m_started || m_reply->bytesAvailable() > 0)
        onReadyRead();
    if (m_done)
        return;
    QPointer<LineStreamJob> self(this);
    const bool ok =
        m_splitter.finish([&](QByteArrayView line) { return handleLine(line) && self && !m_done; });
    if (!self || m_done)
        return;
    Q_UNUSED(ok);
    end();
    onBodyEnded();
}

void LineStreamJob::fail(const StreamFailure &failure)
{
    end();
    onFailure(failure);
}

std::optional<StreamFailure> transportFailure(const QNetworkReply *reply)
{
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::NoError || isHttpStatusError(reply))
        return std::nullopt;
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return StreamFailure{StreamFailure::Kind::ConnectionRefused,
                             QCoreApplication::translate("Network", "Could not connect to the server.")};
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        // Our own cancels never reach here (the reply is disconnected first), so a cancelled
        // transfer is Qt's idle timeout or our total limit.
        return StreamFailure{StreamFailure::Kind::TimedOut,
                             QCoreApplication::translate("Network", "The request timed out.")};
    case QNetworkReply::RemoteHostClosedError:
        return StreamFailure{StreamFailure::Kind::Transport,
                             QCoreApplication::translate("Network", "The network connection was lost.")};
    default:
        break;
    }
    return StreamFailure{StreamFailure::Kind::Transport, reply->errorString()};
}
