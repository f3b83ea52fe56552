#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

// One kept drawing. The list shows only the summary fields; svg and narration are read when an
// entry is opened.
struct HistoryEntry
{
    qint64 id = 0;
    QDateTime createdAt;
    QString prompt;
    QString mode; // "draw" or "recreate"
    QString model;
    QString paidWith; // "credits", "key", or empty for a local model
    QString narration;
    QString svg;
    qint64 durationMs = 0;
    QUrl publishedURL;
    QByteArray thumbnail; // PNG; empty when there is none
};

// The drawings kept on this machine: one SQLite file in the app-data folder, shared by every
// window of the process (and safe beside another process, in WAL mode). A file that is locked,
// damaged or written by a newer version turns history off with one notice and is never touched:
// drawing goes on without it.
class HistoryStore : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSchemaVersion = 2;

    explicit HistoryStore(const QString &path, QObject *parent = nullptr);
    ~HistoryStore() override;

    // The process's store, opened on first use at <app data>/history.sqlite.
    static HistoryStore *shared();

    bool isOn() const { return m_on; }
    // Why history is off; empty while it is on.
    QString notice() const { return m_notice; }
    QString path() const { return m_path; }

    // The new entry's id, or nothing when history is off or the write failed.
    std::optional<qint64> add(const HistoryEntry &entry);
    bool remove(qint64 id);
    bool removeAll();
    // The whole entry, svg and narration included.
    std::optional<HistoryEntry> entry(qint64 id) const;
    // Newest first, summary fields and thumbnail only; search matches prompts, ignoring case.
    QList<HistoryEntry> page(const QString &search, int offset, int limit) const;

Q_SIGNALS:
    // Entries were added or removed, by any window.
    void changed();

private:
    void open();
    bool migrate(int from);
    void turnOff(const QString &notice);

    QString m_path;
    QString m_connection;
    bool m_on = false;
    QString m_notice;
};
