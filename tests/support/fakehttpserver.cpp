#include "fakehttpserver.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

// The context of its socket and its timers: both go with it when the server goes.
struct FakeHttpServer::Connection : QObject
{
    QTcpSocket *socket = nullptr;
    QByteArray buffer;
    bool answered = false;
    bool finished = false; // the reply is over, as scripted or because the client went away
    bool held = false;
    FakeResponse response;
    qsizetype nextStep = 0;

    void finish()
    {
        finished = true;
        socket->disconnectFromHost();
    }
};

FakeHttpServer::FakeHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto *connection = new Connection;
            connection->setParent(this);
            socket->setParent(connection);
            connection->socket = socket;
            m_connections.append(connection);
            connect(socket, &QTcpSocket::readyRead, this, [this, connection] { onReadable(connection); });
            connect(socket, &QTcpSocket::disconnected, this, [this, connection] {
                // A long benchmark sends thousands of scripted replies: a closed connection keeps
                // none of its bytes. Later, as the reply being written may be what closed it.
                QMetaObject::invokeMethod(
                    connection,
                    [connection] {
                        connection->response = FakeResponse();
                        connection->buffer = QByteArray();
                    },
                    Qt::QueuedConnection);
                if (!std::exchange(connection->finished, true))
                    Q_EMIT clientDisconnected();
            });
        }
    });
    m_server.listen(QHostAddress::LocalHost, 0);
}

void FakeHttpServer::release()
{
    for (Connection *connection : std::as_const(m_connections)) {
        if (std::exchange(connection->held, false))
            continueResponse(connection);
    }
}

int FakeHttpServer::activeConnections() const
{
    return int(std::count_if(m_connections.begin(), m_connections.end(),
                             [](const Connection *c) { return c->answered && !c->finished; }));
}

int FakeHttpServer::requestsTo(const QByteArray &method, const QByteArray &path) const
{
    return int(std::count_if(m_requests.begin(), m_requests.end(),
                             [&](const RecordedRequest &r) { return r.method == method && r.path == path; }));
}

bool FakeHttpServer::waitForRequests(const QByteArray &method, const QByteArray &path, int count)
{
    QSignalSpy received(this, &FakeHttpServer::requestReceived);
    while (requestsTo(method, path) < count) {
        if (!received.wait(20000))
            return false;
    }
    return true;
}

RecordedRequest FakeHttpServer::lastTo(const QByteArray &path) const
{
    const auto it = std::find_if(m_requests.crbegin(), m_requests.crend(),
                                 [&](const RecordedRequest &r) { return r.path == path; });
    return it == m_requests.crend() ? RecordedRequest() : *it;
}

void FakeHttpServer::onReadable(Connection *connection)
{
    if (connection->answered)
        return;
    connection->buffer += connection->socket->readAll();
    const qsizetype headerEnd = connection->buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    RecordedRequest request;
    const QList<QByteArray> lines = connection->buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    const qsizetype contentLength = request.header("content-length").toLongLong();
    if (connection->buffer.size() - (headerEnd + 4) < contentLength)
        return;
    request.body = connection->buffer.mid(headerEnd + 4, contentLength);
    connection->answered = true;
    m_requests.append(request);
    Q_EMIT requestReceived(request);

    const auto routed = m_routes.constFind(request.method + ' ' + request.path);
    FakeResponse &response = connection->response;
    response = routed != m_routes.cend() ? *routed
               : m_handler               ? m_handler(request)
                                         : FakeResponse(404, FakeResponse::Framing::ContentLength);
    // The reason phrase means nothing to a client; one word serves every status.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.m_status) +
                      " Status\r\nConnection: close\r\n" + response.m_head;
    if (response.m_framing == FakeResponse::Framing::Chunked) {
        head += "Transfer-Encoding: chunked\r\n";
    } else {
        qsizetype length = 0;
        for (const FakeResponse::Step &step : std::as_const(response.m_steps))
            length += step.bytes.size();
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    }
    connection->socket->write(head + "\r\n");
    continueResponse(connection);
}

void FakeHttpServer::continueResponse(Connection *connection)
{
    const FakeResponse &response = connection->response;
    const bool chunked = response.m_framing == FakeResponse::Framing::Chunked;
    while (!connection->finished && connection->nextStep < response.m_steps.size()) {
        const FakeResponse::Step &step = response.m_steps[connection->nextStep++];
        if (step.kind == FakeResponse::Step::Write) {
            // An empty chunk would end the body.
            if (!chunked)
                connection->socket->write(step.bytes);
            else if (!step.bytes.isEmpty())
                connection->socket->write(QByteArray::number(step.bytes.size(), 16) + "\r\n" + step.bytes +
                                          "\r\n");
            continue;
        }
        if (step.kind == FakeResponse::Step::Drop)
            return connection->finish();
        // What was written goes out before the wait, not with the bytes after it.
        connection->socket->flush();
        if (step.kind == FakeResponse::Step::Hold)
            connection->held = true;
        else
            QTimer::singleShot(step.ms, connection, [this, connection] { continueResponse(connection); });
        return;
    }
    if (connection->finished)
        return;
    if (chunked)
        connection->socket->write("0\r\n\r\n");
    connection->finish();
}
