#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

namespace {
constexpr int kConnectMs = 1000;
// A launch that connects and then says nothing must not hold a slot for ever.
constexpr int kReadMs = 5000;
} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent) : QObject(parent), m_name(name)
{
    m_server.setMaxPendingConnections(8);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName()
{
    const QString settings = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QByteArray digest = QCryptographicHash::hash(settings.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("dravlin-") + QString::fromLatin1(digest.left(16));
}

bool SingleInstance::forwardToRunning(const QList<QUrl> &urls)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kConnectMs))
        return false;
    QByteArray message;
    for (const QUrl &url : urls)
        message += url.toEncoded() + '\n';
    // An empty line says "just a window, please".
    if (urls.isEmpty())
        message = "\n";
    socket.write(message);
    if (!socket.waitForBytesWritten(kConnectMs))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kConnectMs);
    return true;
}

bool SingleInstance::listen()
{
    // A crashed instance leaves its socket file behind; nobody answered on it, so it is stale.
    QLocalServer::removeServer(m_name);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    return m_server.listen(m_name);
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        auto buffer = std::make_shared<QByteArray>();
        auto *deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        deadline->start(kReadMs);
        connect(deadline, &QTimer::timeout, socket, &QLocalSocket::abort);
        connect(socket, &QLocalSocket::readyRead, this, [socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() > maxMessageBytes)
                socket->abort();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const bool whole = buffer->endsWith('\n') && buffer->size() <= maxMessageBytes;
            QList<QUrl> urls;
            if (whole) {
                const QList<QByteArray> lines = buffer->split('\n');
                for (const QByteArray &line : lines) {
                    const QUrl url = QUrl::fromEncoded(line.trimmed(), QUrl::StrictMode);
                    if (!line.trimmed().isEmpty() && url.isValid())
                        urls.append(url);
                }
            }
            socket->deleteLater();
            if (whole)
                emit launched(urls);
        });
    }
}
