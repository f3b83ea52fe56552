#include "history/historystore.h"

#include "base/logging.h"
#include "base/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {
// Each step brings the schema from version (its index) to the next. Version 2 keeps what the
// list never searches or sorts by in a second table, so a scan over prompts never reads a
// drawing's bytes.
const QList<QStringList> kMigrations{
    {QStringLiteral(
        "CREATE TABLE drawings (id INTEGER PRIMARY KEY, created_at INTEGER NOT NULL, "
        "prompt TEXT NOT NULL, model TEXT NOT NULL, narration TEXT NOT NULL, svg TEXT NOT NULL)")},
    {QStringLiteral("ALTER TABLE drawings ADD COLUMN mode TEXT NOT NULL DEFAULT 'draw'"),
     QStringLiteral("CREATE TABLE drawing_details (drawing_id INTEGER PRIMARY KEY REFERENCES drawings (id) "
                    "ON DELETE CASCADE, paid_with TEXT NOT NULL DEFAULT '', duration_ms INTEGER NOT NULL "
                    "DEFAULT 0, published_url TEXT NOT NULL DEFAULT '', thumbnail BLOB)"),
     QStringLiteral("INSERT INTO drawing_details (drawing_id) SELECT id FROM drawings"),
     QStringLiteral("CREATE INDEX drawings_by_date ON drawings (created_at DESC, id DESC)")},
};

// Empty, never NULL: the columns hold text.
QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

QString likePattern(const QString &search)
{
    QString escaped = search;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('%'), QLatin1String("\\%"))
        .replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}
} // namespace

HistoryStore::HistoryStore(const QString &path, QObject *parent)
    : QObject(parent), m_path(path),
      m_connection(QStringLiteral("dravlin-history-%1").arg(quintptr(this), 0, 16))
{
    open();
}

HistoryStore::~HistoryStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

HistoryStore *HistoryStore::shared()
{
    static QPointer<HistoryStore> store;
    if (!store) {
        const QString folder = Settings::dataFolder();
        QDir().mkpath(folder);
        store = new HistoryStore(QDir(folder).filePath(QStringLiteral("history.sqlite")), qApp);
    }
    return store;
}

void HistoryStore::turnOff(const QString &notice)
{
    m_on = false;
    m_notice = notice;
    if (!notice.isEmpty())
        qCWarning(lcHistory).noquote() << notice;
    QSqlDatabase::database(m_connection, false).close();
}

void HistoryStore::open()
{
    // Only its owner may read what they drew. SQLite gives its journal files the database's own
    // permissions, so a new database starts as an empty private file.
    Settings::keepPrivate(QFileInfo(m_path).path());
    if (!QFileInfo::exists(m_path)) {
        QFile created(m_path);
        if (created.open(QIODevice::WriteOnly))
            created.close();
    }
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        Settings::keepPrivate(m_path + suffix);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    // Another process mid-write holds the file for milliseconds; longer than this, it is locked.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=300"));
    const QString where =
        QLatin1Char(' ') + tr("The file was left as it is: %1").arg(QDir::toNativeSeparators(m_path));
    if (!db.open()) {
        turnOff(tr("History is off: its database could not be opened (%1).").arg(db.lastError().text()) +
                where);
        return;
    }
    // Read before anything is written: a file we cannot read or do not understand stays as it is.
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) ||
        !query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        const QString error = query.lastError().text();
        turnOff(error.contains(QLatin1String("locked"), Qt::CaseInsensitive)
                    ? tr("History is off: its database is in use by another program.") + where
                    : tr("History is off: its database is damaged (%1).").arg(error) + where);
        return;
    }
    const int version = query.value(0).toInt();
    query.finish();
    // Versions only ever count up from 0: a negative one is not ours, whatever the file holds.
    if (version < 0) {
        turnOff(tr("History is off: its database is damaged (%1).")
                    .arg(QStringLiteral("user_version %1").arg(version)) +
                where);
        return;
    }
    if (version > kSchemaVersion) {
        turnOff(tr("History is off: it was saved by a newer version of Dravlin.") + where);
        return;
    }
    // Brought up to date before the journal changes: a step that fails rolls back to the file as it
    // was, while turning on the write-ahead log rewrites the file's header for good.
    if (!migrate(version))
        return;
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
        !query.exec(QStringLiteral("PRAGMA foreign_keys=ON"))) {
        turnOff(tr("History is off: its database is in use by another program.") + where);
        return;
    }
    m_on = true;
}

bool HistoryStore::migrate(int from)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    for (int version = from; version < kSchemaVersion; ++version) {
        db.transaction();
        QSqlQuery query(db);
        bool ok = true;
        for (const QString &statement : kMigrations.at(version))
            ok = ok && query.exec(statement);
        ok = ok && query.exec(QStringLiteral("PRAGMA user_version = %1").arg(version + 1));
        if (!ok || !db.commit()) {
            const QString error = query.lastError().text();
            db.rollback();
            turnOff(tr("History is off: its database could not be updated (%1).").arg(error));
            return false;
        }
    }
    return true;
}

std::optional<qint64> HistoryStore::add(const HistoryEntry &entry)
{
    if (!m_on)
        return std::nullopt;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    db.transaction();
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO drawings (created_at, prompt, model, narration, svg, mode) "
                                 "VALUES (?, ?, ?, ?, ?, ?)"));
    const QDateTime at = entry.createdAt.isValid() ? entry.createdAt : QDateTime::currentDateTimeUtc();
    for (const QVariant &value :
         {QVariant(at.toMSecsSinceEpoch()), text(entry.prompt), text(entry.model), text(entry.narration),
          text(entry.svg), QVariant(entry.mode.isEmpty() ? QStringLiteral("draw") : entry.mode)})
        query.addBindValue(value);
    bool ok = query.exec();
    const qint64 id = query.lastInsertId().toLongLong();
    if (ok) {
        query.prepare(QStringLiteral("INSERT INTO drawing_details (drawing_id, paid_with, duration_ms, "
                                     "published_url, thumbnail) VALUES (?, ?, ?, ?, ?)"));
        query.addBindValue(id);
        query.addBindValue(text(entry.paidWith));
        query.addBindValue(entry.durationMs);
        query.addBindValue(text(entry.publishedURL.toString()));
        query.addBindValue(entry.thumbnail.isEmpty() ? QVariant(QMetaType(QMetaType::QByteArray))
                                                     : QVariant(entry.thumbnail));
        ok = query.exec();
    }
    if (!ok || !db.commit()) {
        db.rollback();
        return std::nullopt;
    }
    Q_EMIT changed();
    return id;
}

bool HistoryStore::remove(qint64 id)
{
    if (!m_on)
        return false;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("DELETE FROM drawings WHERE id = ?"));
    query.addBindValue(id);
    if (!query.exec())
        return false;
    Q_EMIT changed();
    return true;
}

bool HistoryStore::removeAll()
{
    if (!m_on)
        return false;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("DELETE FROM drawings")))
        return false;
    Q_EMIT changed();
    return true;
}

std::optional<HistoryEntry> HistoryStore::entry(qint64 id) const
{
    if (!m_on)
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral(
        "SELECT d.created_at, d.prompt, d.mode, d.model, d.narration, d.svg, x.paid_with, x.duration_ms, "
        "x.published_url, x.thumbnail FROM drawings d LEFT JOIN drawing_details x ON x.drawing_id = d.id "
        "WHERE d.id = ?"));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return std::nullopt;
    HistoryEntry e;
    e.id = id;
    e.createdAt = QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong(), Qt::UTC);
    e.prompt = query.value(1).toString();
    e.mode = query.value(2).toString();
    e.model = query.value(3).toString();
    e.narration = query.value(4).toString();
    e.svg = query.value(5).toString();
    e.paidWith = query.value(6).toString();
    e.durationMs = query.value(7).toLongLong();
    e.publishedURL = QUrl(query.value(8).toString());
    e.thumbnail = query.value(9).toByteArray();
    return e;
}

QList<HistoryEntry> HistoryStore::page(const QString &search, int offset, int limit) const
{
    QList<HistoryEntry> entries;
    if (!m_on)
        return entries;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    const QString filter =
        search.trimmed().isEmpty() ? QString() : QStringLiteral("WHERE d.prompt LIKE ? ESCAPE '\\' ");
    query.prepare(
        QStringLiteral("SELECT d.id, d.created_at, d.prompt, d.mode, d.model, x.duration_ms, x.thumbnail "
                       "FROM drawings d LEFT JOIN drawing_details x ON x.drawing_id = d.id ") +
        filter + QStringLiteral("ORDER BY d.created_at DESC, d.id DESC LIMIT ? OFFSET ?"));
    if (!filter.isEmpty())
        query.addBindValue(likePattern(search.trimmed()));
    query.addBindValue(limit);
    query.addBindValue(offset);
    if (!query.exec())
        return entries;
    while (query.next()) {
        HistoryEntry e;
        e.id = query.value(0).toLongLong();
        e.createdAt = QDateTime::fromMSecsSinceEpoch(query.value(1).toLongLong(), Qt::UTC);
        e.prompt = query.value(2).toString();
        e.mode = query.value(3).toString();
        e.model = query.value(4).toString();
        e.durationMs = query.value(5).toLongLong();
        e.thumbnail = query.value(6).toByteArray();
        entries.append(e);
    }
    return entries;
}
