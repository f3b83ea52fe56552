#include "fakehttpserver.h"

#include <QTimer>

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
    bool responding = false;
    bool finished = false;
    bool held = false;
    FakeResponse response;
    qsizetype nextStep = 0;
    QObject context; // timers die with the connection
};

namespace {
QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}
} // namespace

FakeHttpServer::FakeHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeHttpServer::onNewConnection);
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

QUrl FakeHttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

quint16 FakeHttpServer::port() const
{
    return m_server.serverPort();
}

void FakeHttpServer::route(const QByteArray &method, const QByteArray &path, const FakeResponse &response)
{
    m_routes[method + ' ' + path] = {response};
}

void FakeHttpServer::routeSequence(const QByteArray &method, const QByteArray &path,
                                   const QList<FakeResponse> &responses)
{
    m_routes[method + ' ' + path] = responses;
}

void FakeHttpServer::setHandler(std::function<FakeResponse(const RecordedRequest &)> handler)
{
    m_handler = std::move(handler);
}

void FakeHttpServer::release()
{
    for (Connection *connection : std::as_const(m_connections)) {
        if (connection->held) {
            connection->held = false;
            continueResponse(connection);
        }
    }
}

int FakeHttpServer::activeConnections() const
{
    int count = 0;
    for (Connection *connection : m_connections)
        count += (connection->socket && !connection->finished) ? 1 : 0;
    return count;
}

void FakeHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto *connection = new Connection;
        connection->socket = socket;
        m_connections.append(connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { onReadable(connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, connection] {
            if (!connection->finished) {
                connection->finished = true;
                connection->held = false;
                emit clientDisconnected();
            }
        });
    }
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
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name.compare("content-length", Qt::CaseInsensitive) == 0)
            contentLength = value.toLongLong();
    }
    const qsizetype bodyStart = headerEnd + 4;
    if (connection->buffer.size() - bodyStart < contentLength)
        return;
    request.body = connection->buffer.mid(bodyStart, contentLength);
    connection->requestComplete = true;
    m_requests.append(request);
    emit requestReceived(request);

    FakeResponse response(404, FakeResponse::Framing::ContentLength);
    auto routed = m_routes.find(request.method + ' ' + request.path);
    if (routed != m_routes.end() && !routed->isEmpty()) {
        response = routed->size() > 1 ? routed->takeFirst() : routed->first();
    } else if (m_handler) {
        response = m_handler(request);
    }
    startResponse(connection, response);
}

void FakeHttpServer::startResponse(Connection *connection, const FakeResponse &response)
{
    connection->response = response;
    connection->responding = true;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status()) + ' ' +
                      reasonPhrase(response.status()) + "\r\nConnection: close\r\n";
    for (const auto &[name, value] : response.headers())
        head += name + ": " + value + "\r\n";
    switch (response.framing()) {
    case FakeResponse::Framing::Chunked:
        head += "Transfer-Encoding: chunked\r\n";
        break;
    case FakeResponse::Framing::ContentLength: {
        qsizetype length = 0;
        for (const FakeResponse::Step &step : response.steps()) {
            if (step.kind == FakeResponse::Step::Kind::Write)
                length += step.bytes.size();
        }
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
        break;
    }
    case FakeResponse::Framing::CloseDelimited:
        break;
    }
    head += "\r\n";
    connection->socket->write(head);
    continueResponse(connection);
}

void FakeHttpServer::continueResponse(Connection *connection)
{
    const FakeResponse &response = connection->response;
    while (connection->socket && !connection->finished && connection->nextStep < response.steps().size()) {
        const FakeResponse::Step &step = response.steps()[connection->nextStep++];
        switch (step.kind) {
        case FakeResponse::Step::Kind::Write:
            if (response.framing() == FakeResponse::Framing::Chunked) {
                if (step.bytes.isEmpty())
                    break; // an empty chunk would end the body
                connection->socket->write(QByteArray::number(step.bytes.size(), 16) + "\r\n" + step.bytes +
                                          "\r\n");
            } else {
                connection->socket->write(step.bytes);
            }
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
            closeConnection(connection, true);
            return;
        case FakeResponse::Step::Kind::Hold:
            connection->socket->flush();
            connection->held = true;
            return;
        }
    }
    if (!connection->socket || connection->finished)
        return;
    if (response.framing() == FakeResponse::Framing::Chunked)
        connection->socket->write("0\r\n\r\n");
    closeConnection(connection, true);
}

void FakeHttpServer::closeConnection(Connection *connection, bool scripted)
{
    if (connection->finished)
        return;
    connection->finished = true;
    if (connection->socket) {
        connection->socket->flush();
        connection->socket->disconnectFromHost();
    }
    if (scripted)
        emit responseDone();
}
