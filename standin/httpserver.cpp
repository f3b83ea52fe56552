#include "standin/httpserver.h"

#include <QHostAddress>
#include <QUrl>

#include <QJsonDocument>
#include <QTcpSocket>

#include <cstdio>

namespace {
// host[:port] naming this machine.
bool isLoopbackName(const QString &hostAndPort)
{
    const QUrl url(QStringLiteral("http://") + hostAndPort, QUrl::StrictMode);
    if (!url.isValid() || !url.path().isEmpty() || !url.userInfo().isEmpty())
        return false;
    const QString host = url.host().toLower();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}
} // namespace

bool HttpServer::isLocalHost(const QByteArray &host)
{
    return !host.isEmpty() && isLoopbackName(QString::fromLatin1(host));
}

bool HttpServer::isLocalOrigin(const QByteArray &origin)
{
    if (origin.isNull())
        return true;
    const QUrl url(QString::fromLatin1(origin), QUrl::StrictMode);
    return url.scheme() == QLatin1String("http") && url.path().isEmpty() && isLoopbackName(url.authority());
}

QByteArray HttpRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

HttpResponder::HttpResponder(QTcpSocket *socket, QObject *parent) : QObject(parent), m_socket(socket)
{
    socket->setParent(this);
    m_deadline.setSingleShot(true);
}

QByteArray HttpServer::reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 402:
        return "Payment Required";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

void HttpResponder::writeHead(int status, const HttpHeaders &headers)
{
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(status) + ' ' + HttpServer::reasonPhrase(status) + "\r\n";
    for (const auto &[name, value] : headers)
        head += name + ": " + value + "\r\n";
    head += "Connection: close\r\n\r\n";
    m_socket->write(head);
    m_started = true;
}

void HttpResponder::send(int status, const QByteArray &contentType, const QByteArray &body,
                         const HttpHeaders &headers)
{
    if (m_started)
        return;
    HttpHeaders all = headers;
    if (!contentType.isEmpty())
        all.append({"Content-Type", contentType});
    all.append({"Content-Length", QByteArray::number(body.size())});
    writeHead(status, all);
    m_socket->write(body);
    m_finished = true;
    close();
}

void HttpResponder::sendJson(int status, const QJsonObject &object)
{
    send(status, "application/json; charset=utf-8", QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void HttpResponder::startStream(int status, const QByteArray &contentType)
{
    if (m_started)
        return;
    writeHead(status, {{"Content-Type", contentType}, {"Transfer-Encoding", "chunked"}});
    m_streaming = true;
}

void HttpResponder::write(const QByteArray &piece)
{
    if (!m_streaming || m_finished || piece.isEmpty())
        return;
    m_socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
}

void HttpResponder::finish()
{
    if (!m_streaming || m_finished)
        return;
    m_socket->write("0\r\n\r\n");
    m_finished = true;
    close();
}

void HttpResponder::drop()
{
    m_socket->abort();
}

void HttpResponder::close()
{
    // Closes once everything written has gone out.
    m_socket->disconnectFromHost();
}

HttpServer::HttpServer(Handler handler, QObject *parent, Limits limits)
    : QObject(parent), m_handler(std::move(handler)), m_limits(limits)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::onNewConnection);
}

bool HttpServer::listen(quint16 port)
{
    // Queued connections are not accepted yet, so they count against the bound too.
    m_server.setMaxPendingConnections(m_limits.maxConnections);
    return m_server.listen(QHostAddress::LocalHost, port);
}

QUrl HttpServer::url() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_server.serverPort());
    return url;
}

void HttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_open >= m_limits.maxConnections) {
            socket->write(
                "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        ++m_open;
        auto *responder = new HttpResponder(socket, this);
        connect(socket, &QTcpSocket::readyRead, responder,
                [this, socket, responder] { onReadable(socket, responder); });
        connect(socket, &QTcpSocket::disconnected, responder, [this, responder] {
            --m_open;
            if (responder->m_handled && !responder->m_finished)
                Q_EMIT responder->gone();
            responder->deleteLater();
        });
        // A client that never finishes its request must not hold a connection for ever.
        connect(&responder->m_deadline, &QTimer::timeout, responder, [responder] {
            if (!responder->m_handled)
                responder->send(408, "text/plain", "request timeout\n");
        });
        responder->m_deadline.start(m_limits.requestTimeoutMs);
    }
}

void HttpServer::onReadable(QTcpSocket *socket, HttpResponder *responder)
{
    if (responder->m_handled) {
        socket->readAll(); // only the first request of a connection is served
        return;
    }
    responder->m_received += socket->readAll();
    QByteArray &data = responder->m_received;
    const qsizetype headEnd = data.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (data.size() > m_limits.maxHeadBytes) {
            responder->m_handled = true;
            responder->send(431, "text/plain", "request head too large\n");
        }
        return;
    }
    if (headEnd > m_limits.maxHeadBytes) {
        responder->m_handled = true;
        responder->send(431, "text/plain", "request head too large\n");
        return;
    }

    HttpRequest request;
    const QList<QByteArray> lines = data.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.")) {
        responder->m_handled = true;
        responder->send(400, "text/plain", "bad request\n");
        return;
    }
    request.method = requestLine[0];
    const QUrl target = QUrl::fromEncoded(requestLine[1]);
    request.path = target.path();
    request.query = QUrlQuery(target);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }

    if (!request.header("Transfer-Encoding").isNull()) {
        responder->m_handled = true;
        responder->send(411, "text/plain", "send a Content-Length\n");
        return;
    }
    bool ok = true;
    const QByteArray lengthText = request.header("Content-Length");
    const qint64 length = lengthText.isNull() ? 0 : lengthText.toLongLong(&ok);
    if (!ok || length < 0) {
        responder->m_handled = true;
        responder->send(400, "text/plain", "bad Content-Length\n");
        return;
    }
    if (length > m_limits.maxBodyBytes) {
        responder->m_handled = true;
        responder->send(413, "text/plain", "request body too large\n");
        return;
    }
    // Only this machine's own pages and programs: a web page elsewhere that points its name at
    // 127.0.0.1 (a rebound DNS name) or posts across sites from the user's browser is turned away.
    if (!isLocalHost(request.header("Host")) || !isLocalOrigin(request.header("Origin"))) {
        responder->m_handled = true;
        responder->send(403, "text/plain", "only this machine may ask\n");
        return;
    }
    if (data.size() - (headEnd + 4) < length)
        return; // more to come
    request.body = data.mid(headEnd + 4, length);
    data.clear();
    responder->m_handled = true;
    responder->m_deadline.stop();
    if (m_logging)
        std::fprintf(stderr, "%s %s\n", request.method.constData(), qPrintable(request.path));
    m_handler(request, responder);
}
