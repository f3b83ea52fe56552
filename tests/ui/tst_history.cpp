#include "sessionharness.h"
#include "testenvironment.h"
#include "ui/historycontroller.h"
#include "ui/historymodel.h"
#include "ui/historystore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

class TestHistory : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    void aFinishedRunIsKeptAndReadBackExactlyAfterReopening();
    void aRunWithoutADrawingKeepsNothing();
    void aVersion1DatabaseIsMigratedWithItsDrawings();
    void aFileHistoryCannotUseTurnsItOffAndStaysUntouched_data();
    void aFileHistoryCannotUseTurnsItOffAndStaysUntouched();
    void theListLoadsLazilyAndSearchAndDeleteNarrowIt();
};

namespace {
QByteArray digest(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
               ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
               : QByteArray();
}

// A database made by hand, outside the store, so the store finds it as another program left it.
void writeDatabase(const QString &path, const QStringList &statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const QString &statement : statements)
            QVERIFY2(query.exec(statement), qPrintable(statement));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
}

HistoryEntry entryFor(const QString &prompt, qint64 minutesAgo)
{
    HistoryEntry e;
    e.prompt = prompt;
    e.model = QStringLiteral("qwen3:4b");
    e.svg = QStringLiteral("<svg/>");
    e.createdAt = QDateTime::currentDateTimeUtc().addSecs(-60 * minutesAgo);
    return e;
}
} // namespace

void TestHistory::aFinishedRunIsKeptAndReadBackExactlyAfterReopening()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    // Text that a careless encoding would change: non-ASCII, a lone CR, a NUL-free control char.
    const QString svg = QStringLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\"><text>café \u2603 \U0001F98A\r\t</text></svg>");
    qint64 id = 0;
    {
        HistoryStore store(path);
        QVERIFY(store.isOn());
        SessionHarness h;
        HistoryController history;
        history.setStore(&store);
        history.setSession(&h.session);
        h.server.route(
            "POST", "/api/chat",
            FakeResponse()
                .write(chatLine("", "A fox, \\u00e9t\\u00e9."))
                .write(
                    chatLine(QJsonDocument(QJsonArray{svg}).toJson(QJsonDocument::Compact).mid(2).chopped(2)))
                .write(chatDone()));
        QSignalSpy kept(&history, &HistoryController::kept);
        QVERIFY(h.draw(QStringLiteral("  a sleeping fox  ")));
        QVERIFY(kept.size() == 1 || kept.wait());
        id = kept.first().first().toLongLong();
        QCOMPARE(h.session.resultSVG(), std::optional<QString>(svg));
    }
    HistoryStore reopened(path);
    const std::optional<HistoryEntry> e = reopened.entry(id);
    QVERIFY(e);
    QCOMPARE(e->svg.toUtf8(), svg.toUtf8());
    QCOMPARE(e->narration, QStringLiteral("A fox, \u00e9t\u00e9.") + svg);
    QCOMPARE(e->prompt, QStringLiteral("a sleeping fox"));
    QCOMPARE(e->model, QStringLiteral("qwen3:4b"));
    QCOMPARE(e->mode, QStringLiteral("draw"));
    QCOMPARE(e->paidWith, QString());
    QVERIFY(e->createdAt.secsTo(QDateTime::currentDateTimeUtc()) < 60);
}

void TestHistory::aRunWithoutADrawingKeepsNothing()
{
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("history.sqlite")));
    SessionHarness h;
    HistoryController history;
    history.setStore(&store);
    history.setSession(&h.session);
    QSignalSpy changed(&store, &HistoryStore::changed);
    h.server.route("POST", "/api/chat", FakeResponse().write(chatLine("Just words.")).write(chatDone()));
    QVERIFY(h.draw());
    QCOMPARE(changed.size(), 0);
    QVERIFY(store.page(QString(), 0, 10).isEmpty());
}

void TestHistory::aVersion1DatabaseIsMigratedWithItsDrawings()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    writeDatabase(
        path,
        {QStringLiteral(
             "CREATE TABLE drawings (id INTEGER PRIMARY KEY, created_at INTEGER NOT NULL, "
             "prompt TEXT NOT NULL, model TEXT NOT NULL, narration TEXT NOT NULL, svg TEXT NOT NULL)"),
         QStringLiteral(
             "INSERT INTO drawings VALUES (7, 1700000000000, 'an old owl', 'gemma3:1b', 'Hoo.', '<svg/>')"),
         QStringLiteral("PRAGMA user_version = 1")});
    HistoryStore store(path);
    QVERIFY2(store.isOn(), qPrintable(store.notice()));
    const std::optional<HistoryEntry> old = store.entry(7);
    QVERIFY(old);
    QCOMPARE(old->prompt, QStringLiteral("an old owl"));
    QCOMPARE(old->narration, QStringLiteral("Hoo."));
    QCOMPARE(old->mode, QStringLiteral("draw"));
    QCOMPARE(old->createdAt.toMSecsSinceEpoch(), 1700000000000);
    // New entries take every field, and the list puts them first.
    HistoryEntry fresh = entryFor(QStringLiteral("a new owl"), 0);
    fresh.paidWith = QStringLiteral("key");
    fresh.thumbnail = QByteArray("\x89PNG", 4);
    const std::optional<qint64> id = store.add(fresh);
    QVERIFY(id);
    QCOMPARE(store.entry(*id)->paidWith, QStringLiteral("key"));
    const QList<HistoryEntry> page = store.page(QString(), 0, 10);
    QCOMPARE(page.size(), 2);
    QCOMPARE(page.first().thumbnail, fresh.thumbnail);
    QCOMPARE(page.last().id, 7);
}

void TestHistory::aFileHistoryCannotUseTurnsItOffAndStaysUntouched_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("noticeSays");
    QTest::newRow("damaged") << QStringLiteral("damaged") << QStringLiteral("damaged");
    QTest::newRow("from a newer version") << QStringLiteral("newer") << QStringLiteral("newer version");
    QTest::newRow("locked by another program") << QStringLiteral("locked") << QStringLiteral("in use");
}

void TestHistory::aFileHistoryCannotUseTurnsItOffAndStaysUntouched()
{
    QFETCH(QString, kind);
    QFETCH(QString, noticeSays);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    if (kind == QLatin1String("damaged")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("SQLite format 3").append(4000, '\x5a'));
    } else {
        writeDatabase(path,
                      {QStringLiteral("CREATE TABLE t (x)"), QStringLiteral("PRAGMA user_version = 99")});
    }
    QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
    if (kind == QLatin1String("locked")) {
        holder.setDatabaseName(path);
        QVERIFY(holder.open());
        QVERIFY(QSqlQuery(holder).exec(QStringLiteral("BEGIN EXCLUSIVE")));
    }
    const QByteArray before = digest(path);

    {
        HistoryStore store(path);
        QVERIFY(!store.isOn());
        QVERIFY2(store.notice().contains(noticeSays), qPrintable(store.notice()));
        QVERIFY(!store.add(entryFor(QStringLiteral("a fox"), 0)));
        // The window still draws; it just keeps nothing.
        SessionHarness h;
        HistoryController history;
        history.setStore(&store);
        history.setSession(&h.session);
        QVERIFY(!history.available());
        h.server.route("POST", "/api/chat", FakeResponse().write(chatLine("<svg></svg>")).write(chatDone()));
        QVERIFY(h.draw());
        QCOMPARE(h.session.resultSVG(), std::optional<QString>(QStringLiteral("<svg></svg>")));
    }
    QCOMPARE(digest(path), before);
    holder.close();
    holder = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
}

void TestHistory::theListLoadsLazilyAndSearchAndDeleteNarrowIt()
{
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("history.sqlite")));
    const int total = HistoryModel::kPageSize * 2 + 5;
    for (int i = 0; i < total; ++i)
        QVERIFY(store.add(entryFor(
            i % 10 == 0 ? QStringLiteral("a red 100%_fox %1").arg(i) : QStringLiteral("owl %1").arg(i), i)));
    HistoryModel model;
    model.setStore(&store);
    QCOMPARE(model.rowCount(), HistoryModel::kPageSize);
    QCOMPARE(model.index(0).data(HistoryModel::PromptRole).toString(), QStringLiteral("a red 100%_fox 0"));
    while (model.canFetchMore({}))
        model.fetchMore({});
    QCOMPARE(model.rowCount(), total);

    // Case does not matter, and the wildcard characters of the query language are only text.
    model.setSearch(QStringLiteral("RED 100%_"));
    QCOMPARE(model.rowCount(), 9);
    model.setSearch(QStringLiteral("%"));
    QCOMPARE(model.rowCount(), 9);
    model.setSearch(QStringLiteral("fox 1"));
    QCOMPARE(model.rowCount(), 1);

    QVERIFY(store.remove(model.index(0).data(HistoryModel::IdRole).toLongLong()));
    QCOMPARE(model.rowCount(), 0);
    model.setSearch(QString());
    QCOMPARE(model.rowCount(), HistoryModel::kPageSize);
    QVERIFY(store.removeAll());
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.canFetchMore({}));
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
