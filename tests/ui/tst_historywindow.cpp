#include "accessiblecontrols.h"
#include "sessionharness.h"
#include "testenvironment.h"
#include "ui/exporter.h"
#include "ui/historycontroller.h"
#include "ui/historymodel.h"
#include "ui/historystore.h"
#include "windowharness.h"

#include <QAccessible>
#include <QClipboard>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <unistd.h>

// The class comes before the drawings: moc reads this file too, and raw strings confuse it.
// The kept drawings and the files they leave as: the store, its list and its files on their own,
// then the real window driven the way a user (or a screen reader) does.
class TestHistoryWindow : public QObject
{
    Q_OBJECT

public:
    static void initMain()
    {
        isolateTestEnvironment();
        QtWebEngineQuick::initialize();
    }

private slots:
    void aRunThatDrewIsKeptAndReadBackExactlyAfterReopening();
    void aVersion1DatabaseIsMigratedWithItsDrawings();
    void aFileHistoryCannotUseTurnsItOffAndStaysUntouched_data();
    void aFileHistoryCannotUseTurnsItOffAndStaysUntouched();
    void theListLoadsLazilyAndSearchAndDeleteNarrowIt();
    void aFailedExportLeavesNothingBehindAndSaysWhy_data();
    void aFailedExportLeavesNothingBehindAndSaysWhy();
    void exportsAreNamedAfterThePrompt_data();
    void exportsAreNamedAfterThePrompt();
    void finishedDrawingsAreKeptListedReopenedAndExported();
};

namespace {
// Controls whose names begin with the given text, shown or not.
QAccessibleInterface *findStartingWith(QAccessibleInterface *root, const QString &name,
                                       QAccessible::Role role)
{
    return findAccessible(
        root, [&](const QString &text) { return text.startsWith(name); }, role, false);
}

// A database made by hand, outside the store, so the store finds it as another program left it.
void writeDatabase(const QString &path, const QStringList &statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        for (const QString &statement : statements)
            QVERIFY2(QSqlQuery(db).exec(statement), qPrintable(statement));
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

// Small drawings of the kind models make: gradients, groups, a style sheet, text.
const QList<std::pair<const char *, const char *>> kDrawings{
    {"a red balloon over a field",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><defs><linearGradient id="s" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#8ecae6"/><stop offset="1" stop-color="#e0f4ff"/></linearGradient></defs><rect width="200" height="150" fill="url(#s)"/><rect y="115" width="200" height="35" fill="#6a994e"/><line x1="100" y1="80" x2="104" y2="120" stroke="#333"/><ellipse cx="100" cy="55" rx="22" ry="28" fill="#d62828"/></svg>)SVG"},
    {"a sleeping fox curled up",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><rect width="200" height="150" fill="#fdf0d5"/><ellipse cx="100" cy="95" rx="60" ry="32" fill="#e76f51"/><circle cx="62" cy="88" r="20" fill="#e76f51"/><polygon points="50,72 56,56 64,72" fill="#e76f51"/><path d="M150 100 Q185 80 160 120 Z" fill="#fff"/><path d="M55 90 q6 4 12 0" stroke="#333" fill="none"/></svg>)SVG"},
    {"a sailboat on choppy seas",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><rect width="200" height="150" fill="#caf0f8"/><path d="M0 110 q25 -10 50 0 t50 0 t50 0 t50 0 V150 H0Z" fill="#0077b6"/><polygon points="70,105 130,105 120,118 80,118" fill="#6d4c41"/><polygon points="100,30 100,100 140,100" fill="#fff" stroke="#999"/><line x1="100" y1="28" x2="100" y2="106" stroke="#333" stroke-width="2"/></svg>)SVG"},
    {"a bowl of ramen",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><style>.n{stroke:#f4d35e;stroke-width:3;fill:none}</style><rect width="200" height="150" fill="#2b2d42"/><path d="M40 70 h120 a60 50 0 0 1 -120 0z" fill="#ef233c"/><path class="n" d="M60 70 q20 -20 40 0 t40 0"/><circle cx="80" cy="66" r="9" fill="#fff"/><circle cx="80" cy="66" r="4" fill="#f4a261"/><line x1="120" y1="20" x2="150" y2="70" stroke="#d4a373" stroke-width="4"/></svg>)SVG"},
    {"a cactus in a clay pot",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><rect width="200" height="150" fill="#fefae0"/><rect x="90" y="40" width="20" height="70" rx="10" fill="#588157"/><rect x="70" y="60" width="14" height="30" rx="7" fill="#588157"/><rect x="116" y="50" width="14" height="30" rx="7" fill="#588157"/><polygon points="75,105 125,105 118,140 82,140" fill="#bc6c25"/></svg>)SVG"},
    {"a full moon over mountains",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><rect width="200" height="150" fill="#14213d"/><circle cx="150" cy="40" r="22" fill="#fdf0d5"/><polygon points="0,150 60,70 110,150" fill="#415a77"/><polygon points="70,150 140,60 200,150" fill="#778da9"/></svg>)SVG"},
    {"a goldfish in a bowl",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><rect width="200" height="150" fill="#fff"/><circle cx="100" cy="80" r="55" fill="#bde0fe" stroke="#a2d2ff" stroke-width="3"/><ellipse cx="100" cy="82" rx="22" ry="13" fill="#fb8500"/><polygon points="120,82 138,70 138,94" fill="#fb8500"/><circle cx="88" cy="79" r="2.5" fill="#000"/></svg>)SVG"},
    {"a sunflower",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><rect width="200" height="150" fill="#d8f3dc"/><line x1="100" y1="75" x2="100" y2="150" stroke="#40916c" stroke-width="5"/><g fill="#ffb703"><ellipse cx="100" cy="45" rx="8" ry="20"/><ellipse cx="100" cy="105" rx="8" ry="20"/><ellipse cx="70" cy="75" rx="20" ry="8"/><ellipse cx="130" cy="75" rx="20" ry="8"/></g><circle cx="100" cy="75" r="16" fill="#6f4518"/></svg>)SVG"},
    {"a little red house",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><rect width="200" height="150" fill="#e9f5db"/><rect x="60" y="70" width="80" height="60" fill="#c1121f"/><polygon points="50,72 100,30 150,72" fill="#583101"/><rect x="92" y="95" width="16" height="35" fill="#fff"/><rect x="70" y="82" width="14" height="14" fill="#fdf0d5"/></svg>)SVG"},
    {"a hot air balloon at dawn",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><defs><radialGradient id="d"><stop offset="0" stop-color="#ffd6a5"/><stop offset="1" stop-color="#ffadad"/></radialGradient></defs><rect width="200" height="150" fill="url(#d)"/><path d="M100 20 c40 0 45 50 10 75 h-20 c-35 -25 -30 -75 10 -75z" fill="#9b5de5"/><rect x="92" y="105" width="16" height="12" fill="#8d6e63"/></svg>)SVG"},
    {"a robot waving hello",
     R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 150"><rect width="200" height="150" fill="#edf2f4"/><rect x="75" y="30" width="50" height="40" rx="6" fill="#8d99ae"/><circle cx="90" cy="50" r="5" fill="#ef233c"/><circle cx="110" cy="50" r="5" fill="#ef233c"/><rect x="70" y="75" width="60" height="50" rx="6" fill="#2b2d42"/><line x1="130" y1="85" x2="155" y2="60" stroke="#2b2d42" stroke-width="8"/><text x="100" y="142" font-size="10" text-anchor="middle" fill="#2b2d42">hello</text></svg>)SVG"},
};
} // namespace

void TestHistoryWindow::aRunThatDrewIsKeptAndReadBackExactlyAfterReopening()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    // Text that a careless encoding would change: non-ASCII, a lone CR, a tab.
    const QString svg = QStringLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\"><text>café \u2603 \U0001F98A\r\t</text></svg>");
    {
        HistoryStore store(path);
        SessionHarness h;
        HistoryController history;
        history.setStore(&store);
        history.setSession(&h.session);
        QSignalSpy kept(&history, &HistoryController::kept);
        // A run that drew nothing keeps nothing.
        h.server.route("POST", "/api/chat", FakeResponse().write(chatLine("Just words.")).write(chatDone()));
        QVERIFY(h.draw());
        h.server.route(
            "POST", "/api/chat",
            FakeResponse()
                .write(chatLine("", "A fox, \\u00e9t\\u00e9."))
                .write(
                    chatLine(QJsonDocument(QJsonArray{svg}).toJson(QJsonDocument::Compact).mid(2).chopped(2)))
                .write(chatDone()));
        QVERIFY(h.draw(QStringLiteral("  a sleeping fox  ")));
        QVERIFY(kept.size() == 1 || kept.wait());
    }
    HistoryStore reopened(path);
    const QList<HistoryEntry> all = reopened.page(QString(), 0, 10);
    QCOMPARE(all.size(), 1);
    const std::optional<HistoryEntry> e = reopened.entry(all.first().id);
    QVERIFY(e);
    QCOMPARE(e->svg.toUtf8(), svg.toUtf8());
    QCOMPARE(e->narration, QStringLiteral("A fox, \u00e9t\u00e9.") + svg);
    QCOMPARE(e->prompt, QStringLiteral("a sleeping fox"));
    QCOMPARE(e->model, QStringLiteral("qwen3:4b"));
    QCOMPARE(e->mode, QStringLiteral("draw"));
    QVERIFY(e->createdAt.secsTo(QDateTime::currentDateTimeUtc()) < 60);
}

void TestHistoryWindow::aVersion1DatabaseIsMigratedWithItsDrawings()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    writeDatabase(
        path, {QStringLiteral("CREATE TABLE drawings (id INTEGER PRIMARY KEY, created_at INTEGER NOT NULL, "
                              "prompt TEXT NOT NULL, model TEXT NOT NULL, narration TEXT NOT NULL, svg "
                              "TEXT NOT NULL)"),
               QStringLiteral("INSERT INTO drawings VALUES (7, 1700000000000, 'an old owl', 'gemma3:1b', "
                              "'Hoo.', '<svg/>')"),
               QStringLiteral("PRAGMA user_version = 1")});
    HistoryStore store(path);
    QVERIFY2(store.isOn(), qPrintable(store.notice()));
    const std::optional<HistoryEntry> old = store.entry(7);
    QVERIFY(old);
    QCOMPARE(old->narration, QStringLiteral("Hoo."));
    QCOMPARE(old->mode, QStringLiteral("draw"));
    QCOMPARE(old->createdAt.toMSecsSinceEpoch(), 1700000000000);
    // New entries take every field, and the list puts them first.
    HistoryEntry fresh = entryFor(QStringLiteral("a new owl"), 0);
    fresh.paidWith = QStringLiteral("key");
    fresh.thumbnail = QByteArray("\x89PNG", 4);
    QVERIFY(store.add(fresh));
    const QList<HistoryEntry> page = store.page(QString(), 0, 10);
    QCOMPARE(page.size(), 2);
    QCOMPARE(page.first().thumbnail, fresh.thumbnail);
    QCOMPARE(page.last().id, 7);
}

void TestHistoryWindow::aFileHistoryCannotUseTurnsItOffAndStaysUntouched_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("noticeSays");
    QTest::newRow("damaged") << QStringLiteral("damaged") << QStringLiteral("damaged");
    QTest::newRow("from a newer version") << QStringLiteral("newer") << QStringLiteral("newer version");
    QTest::newRow("locked by another program") << QStringLiteral("locked") << QStringLiteral("in use");
}

void TestHistoryWindow::aFileHistoryCannotUseTurnsItOffAndStaysUntouched()
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
    const auto digest = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly)
                   ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                   : QByteArray();
    };
    const QByteArray before = digest();
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
    QCOMPARE(digest(), before);
    holder.close();
    holder = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
}

void TestHistoryWindow::theListLoadsLazilyAndSearchAndDeleteNarrowIt()
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

void TestHistoryWindow::aFailedExportLeavesNothingBehindAndSaysWhy_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("into a read-only folder") << QStringLiteral("locked/drawing.png");
    QTest::newRow("into a folder that does not exist") << QStringLiteral("missing/drawing.png");
    QTest::newRow("over a folder") << QStringLiteral("taken");
}

void TestHistoryWindow::aFailedExportLeavesNothingBehindAndSaysWhy()
{
    QFETCH(QString, target);
    if (target.startsWith(QLatin1String("locked")) && ::geteuid() == 0)
        QSKIP("permissions do not bind the superuser");
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("locked")) &&
            QDir(dir.path()).mkdir(QStringLiteral("taken")));
    const QString locked = dir.filePath(QStringLiteral("locked"));
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    const auto everything = [&] {
        QStringList all;
        for (const QString &folder : {dir.path(), locked, dir.filePath(QStringLiteral("taken"))})
            all += QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        return all;
    };
    const QStringList before = everything();
    const std::optional<QString> error =
        Exporter::writeAtomically(dir.filePath(target), QByteArray(4096, 'x'));
    QVERIFY(error && !error->isEmpty());
    QCOMPARE(everything(), before);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestHistoryWindow::exportsAreNamedAfterThePrompt_data()
{
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("slug");
    QTest::newRow("words and punctuation")
        << QStringLiteral("A lighthouse, at sunset!") << QStringLiteral("a-lighthouse-at-sunset");
    QTest::newRow("accents fold") << QStringLiteral("Café crème") << QStringLiteral("cafe-creme");
    QTest::newRow("nothing usable") << QStringLiteral(" ../?* ") << QStringLiteral("drawing");
    QTest::newRow("long prompts are cut, never on a hyphen")
        << QStringLiteral("word ").repeated(20)
        << QStringLiteral("word-").repeated(11) + QStringLiteral("word");
}

void TestHistoryWindow::exportsAreNamedAfterThePrompt()
{
    QFETCH(QString, prompt);
    QFETCH(QString, slug);
    QCOMPARE(Exporter::slug(prompt), slug);
}

void TestHistoryWindow::finishedDrawingsAreKeptListedReopenedAndExported()
{
    WindowHarness h;
    h.server.route("GET", "/api/tags",
                   FakeResponse::json(200, R"({"models":[{"name":"gemma3:4b","size":3300000000}]})"));
    QVERIFY(h.load());
    // The first listing went out before the harness pointed the window at its fake server.
    h.session()->refreshModels();
    QTRY_COMPARE_WITH_TIMEOUT(h.item("canvas")->property("loadProgress").toInt(), 100, 30000);
    QTRY_VERIFY(!h.item("canvas")->property("loading").toBool() && h.item("controls")->isVisible());
    auto *history = h.window->findChild<HistoryController *>(QStringLiteral("history"));
    QVERIFY(history && history->available());

    QList<std::pair<QString, QString>> runs;
    for (const auto &[prompt, svg] : kDrawings)
        runs.append({QString::fromUtf8(prompt), QStringLiteral("Here it is.\n```svg\n") +
                                                    QString::fromUtf8(svg) + QStringLiteral("\n```")});
    runs.append({QStringLiteral("a lighthouse at sunset"),
                 WindowHarness::recordedReply(QStringLiteral("lighthouse-reply.txt"))});
    for (const auto &[prompt, reply] : runs) {
        h.server.route(
            "POST", "/api/chat",
            FakeResponse(200).writeEach(WindowHarness::chatLines(reply, 40, QStringLiteral("gemma3:4b"))));
        QSignalSpy kept(history, &HistoryController::kept);
        h.session()->start(prompt);
        QVERIFY2(kept.wait(20000), qPrintable(prompt));
    }

    // The transcript's actions, reachable by name; Copy SVG takes the sanitized tree.
    QAccessibleInterface *root = QAccessible::queryAccessibleInterface(h.window);
    for (const char *name : {"Save SVG\u2026", "Export PNG\u2026", "Copy SVG", "Copy image"})
        QVERIFY2(findStartingWith(root, QString::fromUtf8(name), QAccessible::Button), name);
    QVERIFY(press(findStartingWith(root, QStringLiteral("Copy SVG"), QAccessible::Button)));
    QTRY_VERIFY(QGuiApplication::clipboard()->text().startsWith(QLatin1String("<svg")));
    // The save dialog opens where the last export went, on a name made from the prompt.
    QVERIFY(press(findStartingWith(root, QString::fromUtf8("Save SVG\u2026"), QAccessible::Button)));
    QObject *dialog = nullptr;
    QTRY_VERIFY((dialog = h.window->findChild<QObject *>(QStringLiteral("saveSvgDialog"))) &&
                dialog->property("visible").toBool());
    QVERIFY(dialog->property("selectedFile")
                .toUrl()
                .toLocalFile()
                .endsWith(QLatin1String("/a-lighthouse-at-sunset.svg")));
    QMetaObject::invokeMethod(dialog, "reject");
    QTest::qWait(300); // only for the picture: the last shapes finish fading in
    h.screenshot(QStringLiteral("window-export"));

    // Shortcuts belong to the active window.
    h.window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(h.window));
    QTest::keyClick(h.window, Qt::Key_Y, Qt::ControlModifier);
    QTRY_VERIFY(h.item("historySheet")->isVisible());
    QQuickItem *list = h.item("historyList");
    QTRY_COMPARE(list->property("count").toInt(), runs.size());
    QTest::qWait(300);
    h.screenshot(QStringLiteral("window-history"));

    h.item("historySearch")->setProperty("text", QStringLiteral("FOX"));
    QTRY_COMPARE(list->property("count").toInt(), 1);
    QVERIFY(press(findStartingWith(root, QStringLiteral("a sleeping fox curled up, "), QAccessible::Button)));
    QTRY_VERIFY(history->viewing());
    QCOMPARE(history->property("entry").toMap().value(QStringLiteral("prompt")).toString(),
             QStringLiteral("a sleeping fox curled up"));
    QVERIFY(findStartingWith(root, QStringLiteral("Draw again"), QAccessible::Button));
    QTest::qWait(300);
    h.screenshot(QStringLiteral("window-history-entry"));

    QTest::keyClick(h.window, Qt::Key_Y, Qt::ControlModifier);
    QTRY_VERIFY(!h.item("historySheet")->isVisible());
    QVERIFY(!history->viewing());
}

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
