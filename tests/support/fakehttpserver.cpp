#include "fakehttpserver.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

struct FakeHttpServer::Connection
{
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    bool requestComplete = false;
    bool finished = false; // the reply is over, as scripted or because the client went away
    bool held = false;
    FakeResponse response;
    qsizetype nextStep = 0;
    QObject context; // timers die with the connection
};

FakeHttpServer::FakeHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto *connection = new Connection;
            connection->socket = socket;
            m_connections.append(connection);
            connect(socket, &QTcpSocket::readyRead, this, [this, connection] { onReadable(connection); });
            connect(socket, &QTcpSocket::disconnected, this, [this, connection] {
                if (!std::exchange(connection->finished, true)) {
                    connection->held = false;
                    emit clientDisconnected();
                }
            });
        }
    });
    m_server.listen(QHostAddress::LocalHost, 0);
}

FakeHttpServer::~FakeHttpServer()
{
    for (Connection *connection : std::as_const(m_connections)) {
        if (connection->socket) {
            connection->socket->disconnect(this);
            connection->socket->abort();
            delete connection->socket;
        }
        delete connection;
    }
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
                             [](const Connection *c) { return c->socket && !c->finished; }));
}

void FakeHttpServer::onReadable(Connection *connection)
{
    if (!connection->socket || connection->requestComplete)
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
    qsizetype contentLength = 0;
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        if (request.headers.last().first.compare("content-length", Qt::CaseInsensitive) == 0)
            contentLength = request.headers.last().second.toLongLong();
    }
    if (connection->buffer.size() - (headerEnd + 4) < contentLength)
        return;
    request.body = connection->buffer.mid(headerEnd + 4, contentLength);
    connection->requestComplete = true;
    m_requests.append(request);
    emit requestReceived(request);

    FakeResponse &response = connection->response;
    response = FakeResponse(404, FakeResponse::Framing::ContentLength);
    auto routed = m_routes.find(request.method + ' ' + request.path);
    if (routed != m_routes.end() && !routed->isEmpty())
        response = routed->size() > 1 ? routed->takeFirst() : routed->first();
    else if (m_handler)
        response = m_handler(request);

    // The reason phrase means nothing to a client; one word serves every status.
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(response.status()) + " Status\r\nConnection: close\r\n";
    for (const auto &[name, value] : response.headers())
        head += name + ": " + value + "\r\n";
    if (response.framing() == FakeResponse::Framing::Chunked) {
        head += "Transfer-Encoding: chunked\r\n";
    } else if (response.framing() == FakeResponse::Framing::ContentLength) {
        qsizetype length = 0;
        for (const FakeResponse::Step &step : response.steps())
            length += step.kind == FakeResponse::Step::Kind::Write ? step.bytes.size() : 0;
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    }
    connection->socket->write(head + "\r\n");
    continueResponse(connection);
}

void FakeHttpServer::continueResponse(Connection *connection)
{
    const FakeResponse &response = connection->response;
    const bool chunked = response.framing() == FakeResponse::Framing::Chunked;
    while (connection->socket && !connection->finished && connection->nextStep < response.steps().size()) {
        const FakeResponse::Step &step = response.steps()[connection->nextStep++];
        switch (step.kind) {
        case FakeResponse::Step::Kind::Write:
            // An empty chunk would end the body.
            if (chunked && !step.bytes.isEmpty())
                connection->socket->write(QByteArray::number(step.bytes.size(), 16) + "\r\n" + step.bytes +
                                          "\r\n");
            else if (!chunked)
                connection->socket->write(step.bytes);
            break;
        case FakeResponse::Step::Kind::Raw:
            connection->socket->write(step.bytes);
            break;
        case FakeResponse::Step::Kind::Pause:
            connection->socket->flush();
            QTimer::singleShot(step.ms, &connection->context,
                               [this, connection] { continueResponse(connection); });
            return;
        case FakeResponse::Step::Kind::Drop:
            finish(connection);
            return;
        case FakeResponse::Step::Kind::Hold:
            connection->socket->flush();
            connection->held = true;
            return;
        }
    }
    if (!connection->socket || connection->finished)
        return;
    if (chunked)
        connection->socket->write("0\r\n\r\n");
    finish(connection);
}

void FakeHttpServer::finish(Connection *connection)
{
    if (std::exchange(connection->finished, true))
        return;
    if (connection->socket) {
        connection->socket->flush();
        connection->socket->disconnectFromHost();
    }
}
