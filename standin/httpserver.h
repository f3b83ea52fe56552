#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <functional>

class QTcpSocket;

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// One request, read whole before any handler sees it.
struct HttpRequest
{
    QByteArray method;
    QString path; // percent-decoded, without the query
    QUrlQuery query;
    HttpHeaders headers;
    QByteArray body;

    // The first header of that name (case-insensitive), or a null array.
    QByteArray header(const QByteArray &name) const;
};

// The answer on one connection. It lives exactly as long as the connection: whatever feeds a
// streamed answer (timers, pending work) uses it as context, so it stops when the client leaves.
// Every answer closes its connection when done.
class HttpResponder : public QObject
{
    Q_OBJECT

public:
    explicit HttpResponder(QTcpSocket *socket, QObject *parent);

    void send(int status, const QByteArray &contentType, const QByteArray &body,
              const HttpHeaders &headers = {});
    void sendJson(int status, const QJsonObject &object);
    // A chunked answer: each write is one chunk, as the local server sends its lines.
    void startStream(int status, const QByteArray &contentType);
    void write(const QByteArray &piece);
    void finish();
    // Ends the connection at once, in the middle of whatever was being sent.
    void drop();

    bool answered() const { return m_started; }

Q_SIGNALS:
    // The connection closed before the answer was finished (the client went away or was dropped).
    void gone();

private:
    friend class HttpServer;
    void writeHead(int status, const HttpHeaders &headers);
    void close();

    QTcpSocket *m_socket;
    QByteArray m_received; // until the request is whole
    bool m_handled = false;
    QTimer m_deadline;
    bool m_started = false;
    bool m_streaming = false;
    bool m_finished = false;
};

// What one server accepts at most.
struct HttpLimits
{
    int maxConnections = 32;
    qsizetype maxHeadBytes = 16 * 1024;
    // A reference image of up to 20 MB travels as Base64 (a third more) inside JSON.
    qsizetype maxBodyBytes = 32 * 1024 * 1024;
    int requestTimeoutMs = 30'000;
};

// A small HTTP/1.1 server on 127.0.0.1: one request per connection, bodies by Content-Length only.
// Whatever a client sends is bounded: the number of open connections, the size of the head and the
// body, and the time allowed to send the whole request.
class HttpServer : public QObject
{
    Q_OBJECT

public:
    using Limits = HttpLimits;
    using Handler = std::function<void(const HttpRequest &, HttpResponder *)>;

    explicit HttpServer(Handler handler, QObject *parent = nullptr, HttpLimits limits = HttpLimits());

    bool listen(quint16 port);

    // Whether a request's Host names this machine, and its Origin (when it has one) is a page
    // of this machine.
    static bool isLocalHost(const QByteArray &host);
    static bool isLocalOrigin(const QByteArray &origin);
    // One line per request on stderr: the method and the path, never a header, query or body.
    void setLogging(bool on) { m_logging = on; }
    QUrl url() const; // http://127.0.0.1:<port>, without a trailing slash
    int openConnections() const { return m_open; }

    static QByteArray reasonPhrase(int status);

private:
    void onNewConnection();
    void onReadable(QTcpSocket *socket, HttpResponder *responder);

    Handler m_handler;
    Limits m_limits;
    QTcpServer m_server;
    int m_open = 0;
    bool m_logging = false;
};
