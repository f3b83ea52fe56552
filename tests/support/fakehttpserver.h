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
    QByteArray path; // with the query, as sent
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // The first header of that name (case-insensitive), or a null array.
    QByteArray header(const QByteArray &name) const;
};

// A scripted reply with byte-level control over what goes onto the socket and when.
class FakeResponse
{
public:
    enum class Framing { ContentLength, Chunked, CloseDelimited };

    struct Step
    {
        enum class Kind { Write, Raw, Pause, Drop, Hold };
        Kind kind;
        QByteArray bytes;
        int ms = 0;
    };

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
        m_headers.append({name, value});
        return *this;
    }
    // A piece of the body; with chunked framing each piece is one HTTP chunk.
    FakeResponse &write(const QByteArray &piece) { return step(Step::Kind::Write, piece); }
    // Every piece of the body written separately, one after the other.
    FakeResponse &writeEach(const QList<QByteArray> &pieces)
    {
        for (const QByteArray &piece : pieces)
            write(piece);
        return *this;
    }
    // Bytes put on the socket as they are, outside any framing.
    FakeResponse &raw(const QByteArray &bytes) { return step(Step::Kind::Raw, bytes); }
    FakeResponse &pause(int ms) { return step(Step::Kind::Pause, {}, ms); }
    // Closes the connection at once, mid-body: no final chunk, fewer bytes than announced.
    FakeResponse &drop() { return step(Step::Kind::Drop); }
    // Sends nothing more until FakeHttpServer::release() or until the client goes away.
    FakeResponse &hold() { return step(Step::Kind::Hold); }

    int status() const { return m_status; }
    Framing framing() const { return m_framing; }
    const QList<QPair<QByteArray, QByteArray>> &headers() const { return m_headers; }
    const QList<Step> &steps() const { return m_steps; }

private:
    FakeResponse &step(Step::Kind kind, const QByteArray &bytes = {}, int ms = 0)
    {
        m_steps.append({kind, bytes, ms});
        return *this;
    }

    int m_status;
    Framing m_framing;
    QList<QPair<QByteArray, QByteArray>> m_headers;
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
    ~FakeHttpServer() override;

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port())); }
    quint16 port() const { return m_server.serverPort(); }

    // The reply to every request for one method and path, replacing any earlier one.
    void route(const QByteArray &method, const QByteArray &path, const FakeResponse &response)
    {
        m_routes[method + ' ' + path] = {response};
    }
    // Replies in turn: each request takes the next one; the last one repeats.
    void routeSequence(const QByteArray &method, const QByteArray &path, const QList<FakeResponse> &responses)
    {
        m_routes[method + ' ' + path] = responses;
    }
    // Used for requests no route matches; the default is 404 with an empty body.
    void setHandler(std::function<FakeResponse(const RecordedRequest &)> handler)
    {
        m_handler = std::move(handler);
    }

    QList<RecordedRequest> requests() const { return m_requests; }
    // Lets every held reply go on.
    void release();
    // Connections whose reply has not been finished by the server.
    int activeConnections() const;

signals:
    void requestReceived(const RecordedRequest &request);
    // The client closed a connection before the server finished its reply.
    void clientDisconnected();

private:
    struct Connection;
    void onReadable(Connection *connection);
    void continueResponse(Connection *connection);
    void finish(Connection *connection);

    QTcpServer m_server;
    QHash<QByteArray, QList<FakeResponse>> m_routes;
    std::function<FakeResponse(const RecordedRequest &)> m_handler;
    QList<RecordedRequest> m_requests;
    QList<Connection *> m_connections;
};
