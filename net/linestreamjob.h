#pragma once

#include "net/linesplitter.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>

// What ended a line stream other than its body ending.
struct StreamFailure
{
    enum class Kind {
        ConnectionRefused, // nothing listens at the address
        TimedOut,          // no data for the idle limit, or the total limit passed
        LineTooLong,       // one reply line went over the splitter's cap
        Transport,         // any other network error; description is the network layer's own
    };
    Kind kind;
    QString description;
};

// How a finished reply failed at the network level, or nothing when it completed. HTTP error
// statuses are not failures here: for our servers the body decides.
std::optional<StreamFailure> transportFailure(const QNetworkReply *reply);

// Lets go of a reply its owner no longer wants: no more signals to receiver, the request closed,
// the reply deleted later. Leaves reply null.
void releaseReply(QPointer<QNetworkReply> &reply, QObject *receiver);

// The common body of our streamed HTTP replies: owns its QNetworkReply, feeds each arriving chunk
// through the line splitter, hands complete lines to the subclass, and ends exactly once. Nothing
// is buffered beyond one unfinished line, so the first words reach the screen while the server is
// still writing.
//
// Ending: the subclass calls end() (or endWithFailure) itself, e.g. on an error line; a body that
// ends normally calls onBodyEnded(); a network failure calls onFailure(). cancel() aborts the request
// (the server sees the connection close) and suppresses every later callback.
class LineStreamJob : public QObject
{
    Q_OBJECT

public:
    // totalLimitMs: a hard ceiling on the whole request, whatever the traffic; 0 means none.
    // A null reply makes a stream that the subclass ends by itself.
    LineStreamJob(QNetworkReply *reply, qint64 totalLimitMs, QObject *parent);
    ~LineStreamJob() override;

    void cancel();
    bool isCancelled() const { return m_cancelled; }
    bool isDone() const { return m_done; }

    // Once the first line has arrived, the stream fails as timed out when no data comes for ms;
    // before it, only the request's own idle limit applies. None unless set.
    void setIdleLimitAfterFirstLine(qint64 ms) { m_idleAfterFirstLineMs = ms; }

Q_SIGNALS:
    // The first line of the reply has arrived: the server has begun to answer.
    void firstLine();

protected:
    // Return false to stop reading (after calling end()).
    virtual bool handleLine(QByteArrayView line) = 0;
    // Called once the response headers are in; return false to stop (after calling end()).
    virtual bool handleResponseStart(int httpStatus)
    {
        Q_UNUSED(httpStatus);
        return true;
    }
    virtual void onBodyEnded() = 0;
    virtual void onFailure(const StreamFailure &failure) = 0;

    // Marks the stream done and closes the request; no more callbacks arrive after it.
    void end();

private:
    void onReadyRead();
    void onFinished();
    void fail(const StreamFailure &failure);
    void releaseReply();
    bool processLines(QByteArrayView bytes);

    QPointer<QNetworkReply> m_reply;
    QTimer m_totalLimit;
    QTimer m_idleLimit;
    qint64 m_idleAfterFirstLineMs = 0;
    LineSplitter m_splitter;
    bool m_sawLine = false;
    bool m_done = false;
    bool m_cancelled = false;
    bool m_started = false;
};
