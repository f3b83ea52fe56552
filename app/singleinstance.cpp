#include "app/singleinstance.h"

#include "base/settings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {
constexpr int kConnectMs = 1000;
// A launch that connects and then says nothing must not hold a slot for ever.
constexpr int kReadMs = 5000;
} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent), m_name(name), m_user(uint(::getuid()))
{
    m_server.setMaxPendingConnections(8);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName()
{
    // One app per settings: the demo's, with settings of its own, runs beside the user's.
    const QString settings = Settings::fileName();
    const QByteArray digest = QCryptographicHash::hash(settings.toUtf8(), QCryptographicHash::Sha256).toHex();
#ifdef Q_OS_MACOS
    // The per-user temporary folder ($TMPDIR, under /var/folders), which only its user may enter.
    const QString folder = QDir::tempPath();
#else
    // $XDG_RUNTIME_DIR, which the session makes for its user alone.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
    if (folder.isEmpty() || !isPrivateFolder(folder))
        return {};
    return QDir(folder).filePath(QStringLiteral("dravlin-") + QString::fromLatin1(digest.left(16)));
}

bool SingleInstance::isPrivateFolder(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

bool SingleInstance::isOurs(const QLocalSocket &socket) const
{
    const int fd = int(socket.socketDescriptor());
    if (fd < 0)
        return false;
#if defined(Q_OS_LINUX)
    struct ucred peer = {};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof(peer))
        return false;
    return uint(peer.uid) == m_user;
#else
    uid_t uid = 0;
    gid_t gid = 0;
    if (::getpeereid(fd, &uid, &gid) != 0)
        return false;
    return uint(uid) == m_user;
#endif
}

bool SingleInstance::forwardToRunning(const QList<QUrl> &urls)
{
    if (m_name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kConnectMs))
        return false;
    // Whoever listens there must be us: another user's process would take the links and leave
    // this launch quitting with nothing open. Then this launch runs on its own.
    if (!isOurs(socket))
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
    if (m_name.isEmpty())
        return false;
    // A crashed instance leaves its socket file behind; nobody answered on it, so it is stale.
    QLocalServer::removeServer(m_name);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    return m_server.listen(m_name);
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        if (!isOurs(*socket)) {
            socket->abort();
            socket->deleteLater();
            Q_EMIT refused();
            continue;
        }
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
            socket->deleteLater();
            if (const std::optional<QList<QUrl>> urls = decode(*buffer))
                Q_EMIT launched(*urls);
        });
    }
}

std::optional<QList<QUrl>> SingleInstance::decode(const QByteArray &message)
{
    if (!message.endsWith('\n') || message.size() > maxMessageBytes)
        return std::nullopt;
    QList<QUrl> urls;
    for (const QByteArray &line : message.split('\n')) {
        const QUrl url = QUrl::fromEncoded(line.trimmed(), QUrl::StrictMode);
        if (!line.trimmed().isEmpty() && url.isValid())
            urls.append(url);
    }
    return urls;
}
