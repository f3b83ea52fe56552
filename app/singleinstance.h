#pragma once

#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QUrl>

#include <optional>

// One running app per user and settings folder. A later launch hands its links (or, without any,
// its wish for a window) to the running one over a local socket and exits, so a link opened from
// the browser reaches the windows the user already has.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // name: the socket's path (or name); the same for every launch that shares settings. Empty:
    // there is nowhere safe to meet, so nothing is forwarded and nothing listens.
    explicit SingleInstance(const QString &name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // The socket's path for this user and this settings folder, so isolated runs (tests, the
    // demo) never reach each other. It lies in the user's private runtime folder; empty when that
    // folder is not the user's alone, since another user could then listen there first.
    static QString defaultName();
    // Whether a folder belongs to this user and nobody else may enter it.
    static bool isPrivateFolder(const QString &path);

    // Links and wishes for windows go only to, and come only from, a process of this user. Tests
    // expect another user to see what happens when the other end is not ours.
    void setExpectedUserForTesting(uint uid) { m_user = uid; }

    // Hands the links to a running instance. True when one took them; this launch then has
    // nothing left to do. Blocks for at most a second, before any window exists.
    bool forwardToRunning(const QList<QUrl> &urls);

    // Becomes the running instance; false when the socket cannot be made (the app then runs on
    // alone, without forwarding).
    bool listen();

    // A link is at most this long; anything longer is not one of ours.
    static constexpr qsizetype maxMessageBytes = 64 * 1024;
    // A launch's message: its links, one a line, each line ended; nothing when it is cut short or
    // longer than a link may be. Lines that are not links are passed over.
    static std::optional<QList<QUrl>> decode(const QByteArray &message);

Q_SIGNALS:
    // Another launch's links, in order; empty when it only asked for a window.
    void launched(const QList<QUrl> &urls);
    // A connection from another user's process was turned away.
    void refused();

private:
    void accept();

    bool isOurs(const class QLocalSocket &socket) const;

    QString m_name;
    uint m_user;
    QLocalServer m_server;
};
