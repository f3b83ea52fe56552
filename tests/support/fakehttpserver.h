#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <functional>

// One request as the fake server received it.
struct RecordedRequest
{
    QByteArray method;
    QByteArray path;                       // with the query, as sent
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    // That header, whatever the case of its name, or a null array.
    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
};

// A scripted reply with byte-level control over what goes onto the socket and when.
class FakeResponse
{
public:
    enum class Framing { ContentLength, Chunked };

    explicit FakeResponse(int status = 200, Framing framing = Framing::Chunked)
        : m_status(status), m_framing(framing)
    {}

    static FakeResponse json(int status, const QByteArray &body)
    {
        return FakeResponse(status, Framing::ContentLength)
            .header("Content-Type", "application/json")
            .write(body);
    }

    FakeResponse &header(const QByteArray &name, const QByteArray &value)
    {
        m_head += name + ": " + value + "\r\n";
        return *this;
    }
    // A piece of the body; with chunked framing each piece is one HTTP chunk.
    FakeResponse &write(const QByteArray &piece) { return step(Step::Write, piece); }
    // Every piece of the body written separately, one after the other.
    FakeResponse &writeEach(const QList<QByteArray> &pieces)
    {
        for (const QByteArray &piece : pieces)
            write(piece);
        return *this;
    }
    FakeResponse &pause(int ms) { return step(Step::Pause, {}, ms); }
    // Closes the connection at once, mid-body: no final chunk, fewer bytes than announced.
    FakeResponse &drop() { return step(Step::Drop); }
    // Sends nothing more until FakeHttpServer::release() or until the client goes away.
    FakeResponse &hold() { return step(Step::Hold); }

    int status() const { return m_status; }

private:
    friend class FakeHttpServer;
    struct Step
    {
        enum Kind { Write, Pause, Drop, Hold } kind;
        QByteArray bytes;
        int ms = 0;
    };

    FakeResponse &step(Step::Kind kind, const QByteArray &bytes = {}, int ms = 0)
    {
        m_steps.append({kind, bytes, ms});
        return *this;
    }

    int m_status;
    Framing m_framing;
    QByteArray m_head; // header lines
    QList<Step> m_steps;
};

// An HTTP/1.1 server on 127.0.0.1, on a port the system picks, inside the test process. Replies
// come from routes ("POST /api/chat") or a handler; every request is recorded. One request per
// connection: each reply closes its connection when done.
class FakeHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit FakeHttpServer(QObject *parent = nullptr);

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port())); }
    quint16 port() const { return m_server.serverPort(); }

    // The reply to every request for one method and path, replacing any earlier one.
    void route(const QByteArray &method, const QByteArray &path, const FakeResponse &response)
    {
        m_routes.insert(method + ' ' + path, response);
    }
    // Used for requests no route matches; the default is 404 with an empty body.
    void setHandler(std::function<FakeResponse(const RecordedRequest &)> handler)
    {
        m_handler = std::move(handler);
    }

    QList<RecordedRequest> requests() const { return m_requests; }
    int requestsTo(const QByteArray &method, const QByteArray &path) const;
    // Waits until that many requests to method and path have come; false when it goes quiet for 20 s.
    bool waitForRequests(const QByteArray &method, const QByteArray &path, int count);
    // The last request to path, or an empty one.
    RecordedRequest lastTo(const QByteArray &path) const;
    // Lets every held reply go on.
    void release();
    // Requests whose reply is neither finished by the server nor dropped by the client. A
    // connection that never carried a request does not count: the client's network layer may
    // keep one it opened for a request cancelled before it was sent.
    int activeConnections() const;

Q_SIGNALS:
    void requestReceived(const RecordedRequest &request);
    // The client closed a connection before the server finished its reply.
    void clientDisconnected();

private:
    struct Connection;
    void onReadable(Connection *connection);
    void continueResponse(Connection *connection);

    QTcpServer m_server;
    QHash<QByteArray, FakeResponse> m_routes;
    std::function<FakeResponse(const RecordedRequest &)> m_handler;
    QList<RecordedRequest> m_requests;
    QList<Connection *> m_connections; // children of this server, each the parent of its socket
};
