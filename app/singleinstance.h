#pragma once

#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QUrl>

// One running app per user and settings folder. A later launch hands its links (or, without any,
// its wish for a window) to the running one over a local socket and exits, so a link opened from
// the browser reaches the windows the user already has.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // name: the socket's name; the same for every launch that shares settings.
    explicit SingleInstance(const QString &name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // The name for this user and this settings folder, so isolated runs (tests, the demo) never
    // reach each other.
    static QString defaultName();

    // Hands the links to a running instance. True when one took them; this launch then has
    // nothing left to do. Blocks for at most a second, before any window exists.
    bool forwardToRunning(const QList<QUrl> &urls);

    // Becomes the running instance; false when the socket cannot be made (the app then runs on
    // alone, without forwarding).
    bool listen();

    // A link is at most this long; anything longer is not one of ours.
    static constexpr qsizetype maxMessageBytes = 64 * 1024;

signals:
    // Another launch's links, in order; empty when it only asked for a window.
    void launched(const QList<QUrl> &urls);

private:
    void accept();

    QString m_name;
    QLocalServer m_server;
};
