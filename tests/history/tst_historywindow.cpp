#include "accessiblecontrols.h"
#include "base/settings.h"
#include "history/historycontroller.h"
#include "history/historymodel.h"
#include "history/historystore.h"
#include "pageharness.h"
#include "sessionharness.h"
#include "standin/recordings.h"
#include "ui/exporter.h"
#include "windowharness.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <string_view>

#include <sys/resource.h>

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
} // namespace

// The kept drawings and the files they leave as: the store, its list and its files on their own,
// then the real window driven the way a user (or a screen reader) does.
class TestHistoryWindow : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_WEBENGINE_TEST_INIT_MAIN

private Q_SLOTS:
    // Into a file of the first version, whose drawing stays; a run that drew nothing keeps nothing.
    void aRunThatDrewIsKeptExactlyAlsoInAFileAnOlderVersionLeft()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        writeDatabase(
            path,
            {QStringLiteral("CREATE TABLE drawings (id INTEGER PRIMARY KEY, created_at INTEGER NOT NULL, "
                            "prompt TEXT NOT NULL, model TEXT NOT NULL, narration TEXT NOT NULL, svg "
                            "TEXT NOT NULL)"),
             QStringLiteral("INSERT INTO drawings VALUES (7, 1700000000000, 'an old owl', 'gemma3:1b', "
                            "'Hoo.', '<svg/>')"),
             QStringLiteral("PRAGMA user_version = 1")});
        // Text that a careless encoding would change: non-ASCII, a lone CR, a tab.
        const QString svg = QStringLiteral(
            "<svg xmlns=\"http://www.w3.org/2000/svg\"><text>café \u2603 \U0001F98A\r\t</text></svg>");
        const QByteArray thumbnail("\x89PNG", 4);
        {
            HistoryStore store(path);
            QVERIFY2(store.isOn(), qPrintable(store.notice()));
            SessionHarness h;
            HistoryController history;
            history.setStore(&store);
            history.setSession(&h.session);
            QSignalSpy kept(&history, &HistoryController::kept);
            h.server.route("POST", "/api/chat",
                           FakeResponse().write(chatLine("Just words.")).write(chatDone()));
            QVERIFY(h.draw());
            h.server.route(
                "POST", "/api/chat",
                FakeResponse()
                    .write(chatLine("", "A fox, \\u00e9t\\u00e9."))
                    .write(chatLine(
                        QJsonDocument(QJsonArray{svg}).toJson(QJsonDocument::Compact).mid(2).chopped(2)))
                    .write(chatDone()));
            QVERIFY(h.draw(QStringLiteral("  a sleeping fox  ")));
            QVERIFY(kept.size() == 1 || kept.wait());
            // The fields the first version had no room for.
            HistoryEntry fresh = entryFor(QStringLiteral("a new owl"), 0);
            fresh.thumbnail = thumbnail;
            QVERIFY(store.add(fresh));
        }
        HistoryStore reopened(path);
        const QList<HistoryEntry> all = reopened.page(QString(), 0, 10);
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.first().thumbnail, thumbnail);
        const std::optional<HistoryEntry> e = reopened.entry(all.at(1).id);
        QVERIFY(e);
        QCOMPARE(e->svg.toUtf8(), svg.toUtf8());
        QCOMPARE(e->narration, QStringLiteral("A fox, \u00e9t\u00e9.") + svg);
        QCOMPARE(e->prompt, QStringLiteral("a sleeping fox"));
        QCOMPARE(e->model, QStringLiteral("qwen3:4b"));
        QCOMPARE(e->mode, QStringLiteral("draw"));
        QVERIFY(e->createdAt.secsTo(QDateTime::currentDateTimeUtc()) < 60);
        const std::optional<HistoryEntry> old = reopened.entry(7);
        QVERIFY(old && all.last().id == 7);
        QCOMPARE(old->narration, QStringLiteral("Hoo."));
        QCOMPARE(old->mode, QStringLiteral("draw"));
        QCOMPARE(old->createdAt.toMSecsSinceEpoch(), 1700000000000);
    }

    void aFileHistoryCannotUseTurnsItOffAndStaysUntouched_data()
    {
        QTest::addColumn<QString>("noticeSays");
        QTest::newRow("damaged") << QStringLiteral("damaged");
        QTest::newRow("a version below zero") << QStringLiteral("damaged (user_version -1)");
        QTest::newRow("a version its tables contradict") << QStringLiteral("could not be updated");
        QTest::newRow("from a newer version") << QStringLiteral("newer version");
        QTest::newRow("locked by another program") << QStringLiteral("in use");
    }

    void aFileHistoryCannotUseTurnsItOffAndStaysUntouched()
    {
        QFETCH(QString, noticeSays);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        if (noticeSays == QLatin1String("damaged")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("SQLite format 3").append(4000, '\x5a'));
        } else {
            const bool contradicted = noticeSays.startsWith(QLatin1String("could"));
            writeDatabase(path, {contradicted ? QStringLiteral("CREATE TABLE drawings (x)")
                                              : QStringLiteral("CREATE TABLE t (x)"),
                                 QStringLiteral("PRAGMA user_version = %1")
                                     .arg(contradicted                               ? 0
                                          : noticeSays.contains(QLatin1String("-1")) ? -1
                                                                                     : 99)});
        }
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        if (noticeSays == QLatin1String("in use")) {
            holder.setDatabaseName(path);
            QVERIFY(holder.open() && QSqlQuery(holder).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        }
        const auto contents = [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray before = contents();
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
            h.server.route("POST", "/api/chat",
                           FakeResponse().write(chatLine("<svg></svg>")).write(chatDone()));
            QVERIFY(h.draw());
            QCOMPARE(h.session.resultSVG(), std::optional<QString>(QStringLiteral("<svg></svg>")));
        }
        QCOMPARE(contents(), before);
        holder.close();
        holder = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    }

    // The history (with SQLite's journal files) and the settings (the user's name and e-mail) are
    // readable by their owner alone, in folders only they can enter: made so, and mended when an
    // older version left them open.
    void whatIsKeptIsTheOwnersAlone()
    {
        const auto open = [](const QString &path) {
            return (QFile::permissions(path) & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                                QFile::ReadOther | QFile::WriteOther | QFile::ExeOther)) != 0;
        };
        const QFile::Permissions shared =
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        QTemporaryDir dir;
        for (const char *before : {"new", "left open"}) {
            const QString folder = dir.filePath(QString::fromLatin1(before).replace(' ', '-'));
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(
                QFile::setPermissions(folder, shared | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
            const QString path = folder + QStringLiteral("/history.sqlite");
            if (qstrcmp(before, "left open") == 0) {
                writeDatabase(path, {QStringLiteral("CREATE TABLE t (x)")});
                QVERIFY(QFile::setPermissions(path, shared));
            }
            HistoryStore store(path);
            QVERIFY2(store.isOn(), qPrintable(store.notice()));
            QVERIFY(store.add(entryFor(QStringLiteral("a fox"), 0)));
            QVERIFY(QFile::exists(path + QStringLiteral("-wal")));
            for (const QString &kept :
                 {folder, path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")})
                QVERIFY2(!open(kept), qPrintable(kept));
        }
        const QString settings = Settings::fileName();
        Settings::shared().setUsername(QStringLiteral("ada"));
        QVERIFY(QFile::setPermissions(settings, shared));
        Settings::shared().setUsername(QStringLiteral("ada"));
        QVERIFY(!open(settings) && !open(QFileInfo(settings).path()));
    }

    void theListLoadsLazilyAndSearchAndDeleteNarrowIt()
    {
        QTemporaryDir dir;
        HistoryStore store(dir.filePath(QStringLiteral("history.sqlite")));
        const int total = HistoryModel::kPageSize * 2 + 5;
        for (int i = 0; i < total; ++i)
            QVERIFY(store.add(entryFor(i % 10 == 0 ? QStringLiteral("a red 100%_fox %1").arg(i)
                                                   : QStringLiteral("owl %1").arg(i),
                                       i)));
        HistoryModel model;
        model.setStore(&store);
        QCOMPARE(model.rowCount(), HistoryModel::kPageSize);
        QCOMPARE(model.index(0).data(HistoryModel::PromptRole).toString(),
                 QStringLiteral("a red 100%_fox 0"));
        while (model.canFetchMore({}))
            model.fetchMore({});
        QCOMPARE(model.rowCount(), total);

        // Case does not matter, and the wildcard characters of the query language are only text.
        for (const char *search : {"RED 100%_FOX", "%", "_"}) {
            model.setSearch(QLatin1String(search));
            QCOMPARE(model.rowCount(), 9);
        }
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

    // A process killed at any moment, most likely mid-write, leaves a history that opens, passes
    // SQLite's own check, and holds every drawing it had reported kept, each one whole; the next
    // process goes on adding to it.
    void aKilledProcessLosesNothingItKept()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        QMap<QString, qint64> kept; // per writer, the last drawing it reported
        // Kills after 8 to 32 saves, at the same moments every run, until 200 saves are behind: a
        // write cut between its two tables is met in more than half of them.
        QRandomGenerator random(11);
        qint64 saves = 0;
        for (int round = 1; saves < 200; ++round) {
            const QString tag = QStringLiteral("w%1").arg(round);
            const qint64 killAfter = 8 + random.bounded(25);
            QProcess writer;
            writer.start(QCoreApplication::applicationDirPath() + QStringLiteral("/historywriter"),
                         {path, tag});
            while (kept.value(tag) < killAfter) {
                QVERIFY2(writer.waitForReadyRead(20000), qPrintable(writer.readAllStandardError()));
                while (writer.canReadLine())
                    kept[tag] = writer.readLine().trimmed().toLongLong();
            }
            writer.kill();
            QVERIFY(writer.waitForFinished(20000));
            saves += kept.value(tag);

            HistoryStore store(path);
            QVERIFY(store.isOn());
            QMap<QString, qint64> found;
            for (const HistoryEntry &summary : store.page({}, 0, 10000)) {
                const std::optional<HistoryEntry> entry = store.entry(summary.id);
                QVERIFY(entry);
                const QStringList words = entry->prompt.split(' ');
                const qint64 n = words.value(1).toLongLong();
                QCOMPARE(entry->svg, QStringLiteral("<svg>%1</svg>").arg(entry->prompt.repeated(400)));
                QCOMPARE(entry->durationMs, n);
                QCOMPARE(entry->thumbnail, QByteArray(256 * 1024, char(n)));
                found[words.value(0)] = qMax(found.value(words.value(0)), n);
            }
            for (auto it = kept.cbegin(); it != kept.cend(); ++it)
                QVERIFY(found.value(it.key()) >= it.value() && found.value(it.key()) <= it.value() + 1);
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery check(db);
            QVERIFY(check.exec(QStringLiteral("PRAGMA integrity_check")) && check.next());
            QCOMPARE(check.value(0).toString(), QStringLiteral("ok"));
            check = QSqlQuery();
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("check"));
        }
    }

    // An export is named after its prompt. A failed one says why and leaves nothing behind, not even
    // its half-written file; a missing folder and a folder in the way stand for every refusal (a
    // read-only folder does not stop the superuser CI runs as), and a file the process may not
    // grow past 1 KiB for a disk that fills halfway through.
    void anExportIsNamedAfterItsPromptAndAFailedOneLeavesNothing()
    {
        for (const auto &[prompt, slug] : {std::pair{"A lighthouse, at sunset!", "a-lighthouse-at-sunset"},
                                           {"Café crème", "cafe-creme"},
                                           {" ../?* ", "drawing"}})
            QCOMPARE(Exporter::slug(QString::fromUtf8(prompt)), QString::fromUtf8(slug));
        // Long prompts are cut, never on a hyphen.
        QCOMPARE(Exporter::slug(QStringLiteral("word ").repeated(20)),
                 QStringLiteral("word-").repeated(11) + QStringLiteral("word"));

        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken")));
        for (const char *target : {"missing/drawing.png", "taken", "full.png"}) {
            const bool full = target == std::string_view("full.png");
            rlimit was{};
            QVERIFY(::getrlimit(RLIMIT_FSIZE, &was) == 0);
            if (full) {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit disk = was;
                disk.rlim_cur = 1024;
                QVERIFY(::setrlimit(RLIMIT_FSIZE, &disk) == 0);
            }
            const std::optional<QString> error =
                Exporter::writeAtomically(dir.filePath(QLatin1String(target)), QByteArray(64 * 1024, 'x'));
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &was) == 0);
            QVERIFY2(error && !error->isEmpty(), target);
            QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList{QStringLiteral("taken")});
            QVERIFY(QDir(dir.filePath(QStringLiteral("taken")))
                        .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        }
    }

    void finishedDrawingsAreKeptListedReopenedAndExported()
    {
        WindowHarness h;
        h.installed(R"([{"name":"gemma3:4b","size":3300000000}])");
        QVERIFY(h.load());
        // The first listing went out before the harness pointed the window at its fake server.
        h.session()->catalog()->refreshModels();
        QTRY_VERIFY_WITH_TIMEOUT(canvasLoaded(h.window) && h.item("controls")->isVisible(), 30000);
        auto *history = h.window->findChild<HistoryController *>(QStringLiteral("history"));
        QVERIFY(history && history->available());

        // The stand-in's recorded drawings, prompted by their titles.
        const QList<Recording> &runs = Recordings::all();
        for (const Recording &run : runs) {
            h.server.route("POST", "/api/chat",
                           FakeResponse(200).writeEach(
                               WindowHarness::chatLines(run.answer(), 40, QStringLiteral("gemma3:4b"))));
            QSignalSpy kept(history, &HistoryController::kept);
            h.session()->start(run.title);
            QVERIFY2(kept.wait(20000), qPrintable(run.title));
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
                    .endsWith(QLatin1Char('/') + Exporter::slug(runs.last().title) + QStringLiteral(".svg")));
        QTest::qWait(300); // only for the picture: the dialog's list fills in
        h.screenshot(QStringLiteral("dialog-save-svg"));
        QMetaObject::invokeMethod(dialog, "reject");
        QTest::qWait(300); // only for the picture: the last shapes finish fading in
        h.screenshot(QStringLiteral("window-export"));

        // Shortcuts belong to the active window.
        QVERIFY(h.activate());
        QTest::keyClick(h.window, Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY(h.item("historySheet")->isVisible());
        QQuickItem *list = h.item("historyList");
        QTRY_COMPARE(list->property("count").toInt(), runs.size());
        QTest::qWait(300);
        h.screenshot(QStringLiteral("window-history"));

        h.item("historySearch")->setProperty("text", QStringLiteral("FOX"));
        QTRY_COMPARE(list->property("count").toInt(), 1);
        QVERIFY(
            press(findStartingWith(root, QStringLiteral("A sleeping fox curled up, "), QAccessible::Button)));
        QTRY_VERIFY(history->viewing());
        QCOMPARE(history->property("entry").toMap().value(QStringLiteral("prompt")).toString(),
                 QStringLiteral("A sleeping fox curled up"));
        QVERIFY(findStartingWith(root, QStringLiteral("Draw again"), QAccessible::Button));
        QTest::qWait(300);
        h.screenshot(QStringLiteral("window-history-entry"));

        // Deleting is at once, and can be undone for a few seconds: the same drawing comes back.
        QVERIFY(press(findAccessible(h.window, QStringLiteral("Delete"))));
        QTRY_COMPARE(list->property("count").toInt(), 0);
        QVERIFY(!history->viewing());
        QTRY_VERIFY(h.item("undoBar") && h.item("undoBar")->isVisible());
        QCOMPARE(history->undoText(), QStringLiteral("Deleted “A sleeping fox curled up”."));
        h.screenshot(QStringLiteral("window-history-undo"));
        QVERIFY(press(findAccessible(h.window, QStringLiteral("Undo"))));
        QTRY_COMPARE(list->property("count").toInt(), 1);
        QVERIFY(history->undoText().isEmpty() && !h.item("undoBar")->isVisible());
        // From the keyboard: Tab from the search reaches the drawing, which shows its ring, and
        // Delete removes it as its button does.
        h.item("historySearch")->forceActiveFocus();
        QTest::keyClick(h.window, Qt::Key_Tab);
        QQuickItem *focused = nullptr;
        QTRY_VERIFY((focused = h.window->activeFocusItem()) && focused->property("entryId").isValid() &&
                    focused->property("visualFocus").toBool());
        h.screenshot(QStringLiteral("focus-history-row"));
        QTest::keyClick(h.window, Qt::Key_Delete);
        QTRY_COMPARE(list->property("count").toInt(), 0);
        QVERIFY(press(findAccessible(h.window, QStringLiteral("Undo"))));
        QTRY_COMPARE(list->property("count").toInt(), 1);

        QTest::keyClick(h.window, Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY(!h.item("historySheet")); // closed and gone
        QVERIFY(!history->viewing());

        // Escape closes the panel; "Draw again" draws the prompt and puts it in the prompt field.
        QTest::keyClick(h.window, Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY(h.item("historySheet") && h.item("historySheet")->isVisible());
        QTest::keyClick(h.window, Qt::Key_Escape);
        QTRY_VERIFY(!h.item("historySheet"));
        QTest::keyClick(h.window, Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY(h.item("historySheet"));
        h.item("historySearch")->setProperty("text", QStringLiteral("FOX"));
        QTRY_VERIFY(
            press(findStartingWith(root, QStringLiteral("A sleeping fox curled up, "), QAccessible::Button)));
        QTRY_VERIFY(history->viewing());
        QVERIFY(press(findStartingWith(root, QStringLiteral("Draw again"), QAccessible::Button)));
        QTRY_VERIFY(!h.item("historySheet"));
        QCOMPARE(h.item("prompt")->property("text").toString(), QStringLiteral("A sleeping fox curled up"));
        QCOMPARE(h.session()->activePrompt(), QStringLiteral("A sleeping fox curled up"));
        QVERIFY(runEnds(h.session()));
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
