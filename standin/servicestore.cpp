#include "standin/servicestore.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

constexpr qint64 kCodeLifetimeSeconds = 300;

QString randomHex(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(data.data()), bytes / 4);
    return QString::fromLatin1(data.toHex());
}

// A stolen database file must not sign anyone in.
QString tokenHash(const QString &token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

ServiceStore::User userFrom(const QSqlQuery &query)
{
    return {query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toString(),
            query.value(3).toDouble()};
}

ServiceStore::Drawing drawingFrom(const QSqlQuery &query)
{
    ServiceStore::Drawing drawing;
    drawing.id = query.value(0).toLongLong();
    drawing.username = query.value(1).toString();
    drawing.prompt = query.value(2).toString();
    drawing.modelId = query.value(3).toString();
    drawing.modelLabel = query.value(4).toString();
    drawing.provider = query.value(5).toString();
    drawing.svg = query.value(6).toString();
    drawing.content = query.value(7).toString();
    drawing.durationMs = query.value(8).toLongLong();
    if (!query.value(9).isNull())
        drawing.costUSD = query.value(9).toDouble();
    drawing.created = QDateTime::fromSecsSinceEpoch(query.value(10).toLongLong(), Qt::UTC);
    return drawing;
}

const char *kDrawingColumns =
    "d.id, u.name, d.prompt, d.model_id, d.model_label, d.provider, d.svg, d.content, "
    "d.duration_ms, d.cost_usd, d.created FROM drawings d JOIN users u ON u.id = d.user_id";

} // namespace

ServiceStore::ServiceStore(const QString &path) : m_connection(QStringLiteral("standin-") + randomHex(8))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path);
    if (!db.open()) {
        m_error = db.lastError().text();
        return;
    }
    m_ok = exec(QStringLiteral("PRAGMA foreign_keys = ON")) &&
           exec(QStringLiteral(
               "CREATE TABLE IF NOT EXISTS users (id INTEGER PRIMARY KEY, name TEXT UNIQUE NOT NULL, "
               "email TEXT NOT NULL, credits REAL NOT NULL)")) &&
           exec(QStringLiteral(
               "CREATE TABLE IF NOT EXISTS codes (code TEXT PRIMARY KEY, user_id INTEGER NOT NULL "
               "REFERENCES users(id), expires INTEGER NOT NULL)")) &&
           // A table of its own, so that files from before sign-ins carried a proof still open.
           exec(QStringLiteral("CREATE TABLE IF NOT EXISTS code_challenges (code TEXT PRIMARY KEY, "
                               "challenge TEXT NOT NULL)")) &&
           exec(QStringLiteral(
               "CREATE TABLE IF NOT EXISTS tokens (hash TEXT PRIMARY KEY, user_id INTEGER NOT NULL "
               "REFERENCES users(id))")) &&
           exec(QStringLiteral(
               "CREATE TABLE IF NOT EXISTS drawings (id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL "
               "REFERENCES users(id), prompt TEXT, model_id TEXT, model_label TEXT, provider TEXT, "
               "svg TEXT, content TEXT, duration_ms INTEGER, cost_usd REAL, created INTEGER)")) &&
           exec(QStringLiteral("CREATE TABLE IF NOT EXISTS favorites (user_id INTEGER PRIMARY KEY REFERENCES "
                               "users(id), cloud_ids TEXT NOT NULL)"));
}

ServiceStore::~ServiceStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool ServiceStore::exec(const QString &statement)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    if (query.exec(statement))
        return true;
    m_error = query.lastError().text();
    return false;
}

ServiceStore::User ServiceStore::userNamed(const QString &name, double startingCredits)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT OR IGNORE INTO users (name, email, credits) VALUES (?, ?, ?)"));
    insert.addBindValue(name);
    insert.addBindValue(name.toLower() + QStringLiteral("@example.com"));
    insert.addBindValue(startingCredits);
    insert.exec();
    QSqlQuery select(db);
    select.prepare(QStringLiteral("SELECT id, name, email, credits FROM users WHERE name = ?"));
    select.addBindValue(name);
    if (select.exec() && select.next())
        return userFrom(select);
    return {};
}

std::optional<ServiceStore::User> ServiceStore::user(qint64 id)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("SELECT id, name, email, credits FROM users WHERE id = ?"));
    query.addBindValue(id);
    if (query.exec() && query.next())
        return userFrom(query);
    return std::nullopt;
}

QString ServiceStore::issueCode(qint64 userId, const QString &challenge)
{
    const QString code = randomHex(16);
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO codes (code, user_id, expires) VALUES (?, ?, ?)"));
    query.addBindValue(code);
    query.addBindValue(userId);
    query.addBindValue(QDateTime::currentSecsSinceEpoch() + kCodeLifetimeSeconds);
    query.exec();
    QSqlQuery bind(db);
    bind.prepare(QStringLiteral("INSERT INTO code_challenges (code, challenge) VALUES (?, ?)"));
    bind.addBindValue(code);
    bind.addBindValue(challenge);
    bind.exec();
    return code;
}

std::optional<qint64> ServiceStore::redeemCode(const QString &code, const QString &verifier)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    QSqlQuery select(db);
    select.prepare(QStringLiteral("SELECT c.user_id, c.expires, p.challenge FROM codes c "
                                  "LEFT JOIN code_challenges p ON p.code = c.code WHERE c.code = ?"));
    select.addBindValue(code);
    if (!select.exec() || !select.next())
        return std::nullopt;
    const qint64 userId = select.value(0).toLongLong();
    const bool live = select.value(1).toLongLong() >= QDateTime::currentSecsSinceEpoch();
    const QString challenge = select.value(2).toString();
    select.finish();
    for (const char *table : {"codes", "code_challenges"}) {
        QSqlQuery remove(db);
        remove.prepare(QStringLiteral("DELETE FROM %1 WHERE code = ?").arg(QLatin1String(table)));
        remove.addBindValue(code);
        remove.exec();
    }
    QSqlQuery expired(db);
    expired.prepare(QStringLiteral("DELETE FROM codes WHERE expires < ?"));
    expired.addBindValue(QDateTime::currentSecsSinceEpoch());
    expired.exec();
    // A code is only good in the hands of the sign-in that asked for it.
    if (!live || challenge.isEmpty() || verifier.isEmpty() || challengeFor(verifier) != challenge)
        return std::nullopt;
    return userId;
}

QString ServiceStore::challengeFor(const QString &verifier)
{
    return QString::fromLatin1(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString ServiceStore::issueToken(qint64 userId)
{
    const QString token = QStringLiteral("dvl_") + randomHex(24);
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("INSERT INTO tokens (hash, user_id) VALUES (?, ?)"));
    query.addBindValue(tokenHash(token));
    query.addBindValue(userId);
    query.exec();
    return token;
}

std::optional<ServiceStore::User> ServiceStore::userForToken(const QString &token)
{
    if (token.isEmpty())
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral(
        "SELECT u.id, u.name, u.email, u.credits FROM tokens t JOIN users u ON u.id = t.user_id "
        "WHERE t.hash = ?"));
    query.addBindValue(tokenHash(token));
    if (query.exec() && query.next())
        return userFrom(query);
    return std::nullopt;
}

bool ServiceStore::charge(qint64 userId, double amount)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(
        QStringLiteral("UPDATE users SET credits = round(credits - ?, 4) WHERE id = ? AND credits >= ?"));
    query.addBindValue(amount);
    query.addBindValue(userId);
    query.addBindValue(amount);
    return query.exec() && query.numRowsAffected() == 1;
}

qint64 ServiceStore::addDrawing(qint64 userId, const Drawing &drawing)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral(
        "INSERT INTO drawings (user_id, prompt, model_id, model_label, provider, svg, content, "
        "duration_ms, cost_usd, created) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    query.addBindValue(userId);
    query.addBindValue(drawing.prompt);
    query.addBindValue(drawing.modelId);
    query.addBindValue(drawing.modelLabel);
    query.addBindValue(drawing.provider);
    query.addBindValue(drawing.svg);
    query.addBindValue(drawing.content);
    query.addBindValue(drawing.durationMs);
    query.addBindValue(drawing.costUSD ? QVariant(*drawing.costUSD) : QVariant());
    query.addBindValue(QDateTime::currentSecsSinceEpoch());
    if (!query.exec())
        return 0;
    return query.lastInsertId().toLongLong();
}

std::optional<ServiceStore::Drawing> ServiceStore::drawing(qint64 id)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("SELECT %1 WHERE d.id = ?").arg(QLatin1String(kDrawingColumns)));
    query.addBindValue(id);
    if (query.exec() && query.next())
        return drawingFrom(query);
    return std::nullopt;
}

QList<ServiceStore::Drawing> ServiceStore::drawings(int limit, const QString &username)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("SELECT %1 WHERE (? = '' OR u.name = ?) ORDER BY d.id DESC LIMIT ?")
                      .arg(QLatin1String(kDrawingColumns)));
    query.addBindValue(username.isNull() ? QStringLiteral("") : username);
    query.addBindValue(username.isNull() ? QStringLiteral("") : username);
    query.addBindValue(limit);
    QList<Drawing> result;
    if (query.exec()) {
        while (query.next())
            result.append(drawingFrom(query));
    }
    return result;
}

QStringList ServiceStore::favorites(qint64 userId)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("SELECT cloud_ids FROM favorites WHERE user_id = ?"));
    query.addBindValue(userId);
    QStringList ids;
    if (query.exec() && query.next()) {
        for (const QJsonValue &id : QJsonDocument::fromJson(query.value(0).toString().toUtf8()).array())
            ids.append(id.toString());
    }
    return ids;
}

void ServiceStore::setFavorites(qint64 userId, const QStringList &ids)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO favorites (user_id, cloud_ids) VALUES (?, ?)"));
    query.addBindValue(userId);
    query.addBindValue(
        QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(ids)).toJson(QJsonDocument::Compact)));
    query.exec();
}
