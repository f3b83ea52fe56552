#include "accessiblecontrols.h"
#include "account/appupdater.h"
#include "account/keychain.h"
#include "app/dravlinapp.h"
#include "app/singleinstance.h"
#include "fakehttpserver.h"
#include "session/downloads.h"
#include "session/drawsession.h"
#include "testenvironment.h"
#include "ui/contentcontroller.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileOpenEvent>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlListReference>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestAppShell : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_WEBENGINE_TEST_INIT_MAIN

private Q_SLOTS:
    void init()
    {
        Keychain::useInMemoryStoreForTesting();
        useService(m_server.url());
        // Every window the shell opens finds its local server here, as a demo's would.
        qputenv("DRAVLIN_OLLAMA_URL", m_server.url().toEncoded());
        m_server.route("GET", "/api/tags",
                       FakeResponse::json(200, R"({"models":[{"name":"alpha:8b"},{"name":"beta:4b"}]})"));
        m_server.route("GET", "/api/v1/recommended_models", FakeResponse::json(200, R"({"models":[]})"));
        m_opened.clear();
        ContentController::setUrlOpener([this](const QUrl &url) { m_opened.append(url); });
    }

    // Each window has its own session; links of our scheme go to the frontmost window (their
    // rules are the controller's test's) whichever way the platform hands them over: a file-open
    // event (macOS), or the scheme's QDesktopServices handler (Qt 6.8.1 and 6.8.2 on the Mac). A
    // file-open event of another kind is left to the application. A link that opens a window waits
    // there until its models are known, and a closed window is gone.
    void windowsAndTheirLinks()
    {
        DravlinApp app;
        QQuickWindow *first = app.openWindow();
        QQuickWindow *second = app.openWindow();
        QVERIFY(first && second);
        ContentController *one = contentOf(first);
        ContentController *two = contentOf(second);
        QVERIFY(one && two && one->session() != two->session() && one->account() != two->account());
        QTRY_COMPARE(one->session()->catalog()->installed().size(), 2);
        QTRY_COMPARE(two->session()->catalog()->installed().size(), 2);
        QCOMPARE(app.windows().first(), second);

        const auto chosenAfter = [two](const std::function<void()> &handOver) {
            two->session()->catalog()->setSelectedModel(QStringLiteral("alpha:8b"));
            handOver();
            return two->session()->catalog()->selectedModel();
        };
        const auto fileOpen = [](const QUrl &url) {
            QCoreApplication::postEvent(QCoreApplication::instance(), new QFileOpenEvent(url));
            QCoreApplication::sendPostedEvents(QCoreApplication::instance(), QEvent::FileOpen);
        };
        const QUrl link(QStringLiteral("dravlin-mac://draw?model=beta"));
        const QString beta = QStringLiteral("beta:4b"), alpha = QStringLiteral("alpha:8b");
        QCOMPARE(chosenAfter(
                     [&] { app.openURL(QUrl(QStringLiteral("https://dravlin.example/draw?model=beta"))); }),
                 alpha);
        QCOMPARE(chosenAfter([&] { fileOpen(QUrl::fromLocalFile(QDir::tempPath())); }), alpha);
        QCOMPARE(chosenAfter([&] { app.openURL(link); }), beta);
        QCOMPARE(chosenAfter([&] { fileOpen(link); }), beta);
        QCOMPARE(chosenAfter([&] { QVERIFY(QDesktopServices::openUrl(link)); }), beta);
        QCOMPARE(one->session()->catalog()->selectedModel(), alpha);

        QQuickWindow *third = app.openWindow();
        app.openURL(link);
        QTRY_COMPARE(contentOf(third)->session()->catalog()->selectedModel(), beta);
        QVERIFY(!contentOf(third)->showGetModels());

        QVERIFY(goneAfter(second, [&] { second->close(); }));
        QCOMPARE(app.windows(), (QList<QQuickWindow *>{third, first}));
    }

    // A download belongs to the application: the window that started it closes and it goes on,
    // shown in the other window, which lists the model when it ends. Closing the last window while
    // one runs asks first; Cancel keeps both, Quit stops the transfer and leaves the server what it
    // has (nothing is deleted), and asks nothing more.
    void downloadsOutliveTheirWindow()
    {
        Downloads *downloads = Downloads::shared();
        downloads->client()->setBase(m_server.url());
        m_server.route("POST", "/api/pull",
                       FakeResponse()
                           .write("{\"status\":\"pulling 26bd\",\"total\":100,\"completed\":38}\n")
                           .hold()
                           .write("{\"status\":\"success\"}\n"));
        DravlinApp app;
        QSignalSpy asked(&app, &DravlinApp::alertShown);
        QQuickWindow *first = app.openWindow();
        QQuickWindow *second = app.openWindow();
        QVERIFY(first && second);
        DrawSession *other = contentOf(second)->session();
        QTRY_COMPARE(other->catalog()->installed().size(), 2);
        contentOf(first)->session()->downloads()->pull(QStringLiteral("gamma:2b"));
        QTRY_VERIFY(
            findAccessible(second, QStringLiteral("Downloading gamma:2b, 38%"), QAccessible::ProgressBar));

        QVERIFY(goneAfter(first, [&] { first->close(); }));
        QVERIFY(asked.isEmpty());
        QCOMPARE(downloads->names(), QStringList{QStringLiteral("gamma:2b")});
        QCOMPARE(m_server.activeConnections(), 1);

        auto answer = [&](int button, const QString &name) {
            QTRY_COMPARE(asked.size(), 1);
            auto *alert = qobject_cast<QQuickWindow *>(asked.takeFirst().first().value<QObject *>());
            QVERIFY(alert);
            QCOMPARE(alertText(alert), "Quit and stop the download?|" + name +
                                           " is still downloading. Quitting stops the download.|Quit,Cancel");
            QTRY_VERIFY(alert->isExposed());
            if (button == 1)
                screenshot(alert, QStringLiteral("quit-question"));
            QMetaObject::invokeMethod(alert, "choose", Q_ARG(QVariant, button));
        };
        second->close();
        answer(1, QStringLiteral("gamma:2b"));
        QTRY_VERIFY(asked.isEmpty() && second->isVisible());
        QCOMPARE(downloads->names(), QStringList{QStringLiteral("gamma:2b")});

        m_server.route("GET", "/api/tags", FakeResponse::json(200, R"({"models":[{"name":"alpha:8b"},
            {"name":"beta:4b"},{"name":"gamma:2b"}]})"));
        m_server.release();
        QTRY_COMPARE(other->catalog()->installed().size(), 3);
        QVERIFY(downloads->isEmpty());

        downloads->pull(QStringLiteral("delta:1b"));
        QVERIFY(m_server.waitForRequests("POST", "/api/pull", 2));
        QTRY_COMPARE(m_server.activeConnections(), 1);
        QCOMPARE(DravlinApp::quitQuestion({"delta:1b", "gamma:2b", "eta:3b"}).informative,
                 QStringLiteral("delta:1b, gamma:2b and eta:3b are still downloading. Quitting stops the "
                                "downloads."));
        QVERIFY(goneAfter(second, [&] {
            second->close();
            answer(0, QStringLiteral("delta:1b"));
        }));
        QVERIFY(downloads->isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(m_server.activeConnections(), 0, 20000);
        QCOMPARE(asked.size(), 0);
        QCOMPARE(m_server.requestsTo("DELETE", "/api/delete"), 0);
    }

    // A long session: twenty windows opened and closed leave no window behind, and a hundred
    // drawings in one window leave its page, its narration and its window list as they were after
    // the first. (Under the sanitizers, the leak check at exit covers the memory.)
    void aLongSessionDoesNotGrow()
    {
        const QByteArray reply =
            "{\"message\":{\"content\":\"A dot. <svg viewBox=\\\"0 0 9 9\\\">\"}}\n"
            "{\"message\":{\"content\":\"<circle cx=\\\"4\\\" cy=\\\"4\\\" r=\\\"3\\\"/></svg>\"}}\n"
            "{\"done\":true}\n";
        m_server.route("POST", "/api/chat", FakeResponse().write(reply));
        DravlinApp app;
        const qsizetype windows = QGuiApplication::allWindows().size();
        for (int i = 0; i < 20; ++i) {
            QQuickWindow *window = app.openWindow();
            QVERIFY(window);
            QTRY_COMPARE(contentOf(window)->session()->catalog()->installed().size(), 2);
            QVERIFY(goneAfter(window, [&] { window->close(); }));
        }
        QCOMPARE(QGuiApplication::allWindows().size(), windows);

        QQuickWindow *window = app.openWindow();
        DrawSession *session = contentOf(window)->session();
        QTRY_COMPARE(session->catalog()->installed().size(), 2);
        QString first;
        for (int run = 1; run <= 100; ++run) {
            session->start(QStringLiteral("a dot"));
            QTRY_VERIFY_WITH_TIMEOUT(!session->running(), 20000);
            QCOMPARE(session->statusNote(), std::nullopt);
            if (run != 1 && run != 100)
                continue;
            const auto shown = std::make_shared<QString>();
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    session->canvas()->requestDrawingSvg(window,
                                                         [shown](const QString &svg) { *shown = svg; });
                    return shown->contains(QLatin1String("<circle"));
                }(),
                20000);
            if (run == 1)
                first = *shown + session->narration();
            else
                QCOMPARE(*shown + session->narration(), first);
        }
        QCOMPARE(QGuiApplication::allWindows().size(), windows + 1);
        QVERIFY(goneAfter(window, [&] { window->close(); }));
    }

    // The Mac's menu bar, built here as the Mac builds it for each window: About first and the
    // update check right after it, the usual File, Edit and Window menus with their keys; its
    // items act on the running shell, on their own window and on the focused text, and never copy
    // a secret.
    void theMacMenuBar()
    {
        DravlinApp app;
        QSignalSpy shown(&app, &DravlinApp::alertShown);
        QQuickWindow *window = app.openWindow();
        QVERIFY(window);
        QQmlComponent component(qmlEngine(window), QUrl(QStringLiteral("qrc:/Dravlin/ui/MacMenuBar.qml")));
        std::unique_ptr<QObject> bar(component.createWithInitialProperties(
            {{QStringLiteral("window"), QVariant::fromValue<QObject *>(window)}}));
        QVERIFY2(bar, qPrintable(component.errorString()));
        QStringList layout;
        QHash<QString, QObject *> items;
        auto listed = [](QObject *object, const char *name) {
            const QQmlListReference list(object, name);
            QObjectList objects;
            for (qsizetype i = 0; i < list.count(); ++i)
                objects << list.at(i);
            return objects;
        };
        for (QObject *menu : listed(bar.get(), "menus")) {
            layout << menu->property("title").toString() + ':';
            for (QObject *item : listed(menu, "items")) {
                const QString text = item->property("text").toString();
                const QVariant keys = item->property("shortcut");
                const QString key =
                    keys.metaType() == QMetaType::fromType<int>()
                        ? QString::fromLatin1(
                              QMetaEnum::fromType<QKeySequence::StandardKey>().valueToKey(keys.toInt()))
                        : keys.toString();
                layout << (item->property("separator").toBool() ? QStringLiteral("-")
                           : key.isEmpty()                      ? text
                                                                : text + ' ' + key);
                items.insert(text, item);
            }
        }
        QCOMPARE(layout, (QStringList{"Dravlin:", "About Dravlin", "Check for Updates…",              //
                                      "File:", "New Window New", "Close Window Close",                //
                                      "Edit:", "Undo Undo", "Redo Redo", "-", "Cut Cut", "Copy Copy", //
                                      "Paste Paste", "Select All SelectAll",                          //
                                      "Window:", "Minimize Ctrl+M", "Zoom", "-", "Bring All to Front"}));
        auto role = [&](const char *text) {
            const QObject *item = items.value(QString::fromUtf8(text));
            const QMetaProperty property =
                item->metaObject()->property(item->metaObject()->indexOfProperty("role"));
            return QByteArray(property.enumerator().valueToKey(property.read(item).toInt()));
        };
        QCOMPARE(role("About Dravlin"), "AboutRole");
        QCOMPARE(role("Check for Updates…"), "ApplicationSpecificRole");

        auto trigger = [&](const char *text) {
            QObject *item = items.value(QString::fromUtf8(text));
            QVERIFY2(item && item->property("enabled").toBool(), text);
            QMetaObject::invokeMethod(item, "triggered");
        };
        auto enabled = [&](const char *text) {
            return items.value(QString::fromUtf8(text))->property("enabled");
        };
        trigger("About Dravlin");
        QCOMPARE(shown.size(), 1);
        auto *about = shown.takeFirst().first().value<QObject *>();
        QCOMPARE(about->property("message").toString(), QStringLiteral("Dravlin"));
        QVERIFY(about->property("informative").toString().startsWith("Version " + DravlinApp::version()));
        QTRY_VERIFY(qobject_cast<QQuickWindow *>(about)->isExposed());
        screenshot(qobject_cast<QQuickWindow *>(about), QStringLiteral("about"));
        QMetaObject::invokeMethod(about, "choose", Q_ARG(QVariant, 0));

        QTRY_VERIFY(window->activeFocusItem());
        QQuickItem *prompt = window->activeFocusItem();
        prompt->setProperty("text", QStringLiteral("a red fox"));
        QCOMPARE(enabled("Copy"), false);
        trigger("Select All");
        QCOMPARE(prompt->property("selectedText").toString(), QStringLiteral("a red fox"));
        trigger("Cut");
        QCOMPARE(prompt->property("text").toString(), QString());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("a red fox"));
        trigger("Paste");
        QCOMPARE(prompt->property("text").toString(), QStringLiteral("a red fox"));
        trigger("Undo");
        QCOMPARE(prompt->property("text").toString(), QString());
        prompt->setProperty("echoMode", 2);
        QMetaObject::invokeMethod(prompt, "selectAll");
        QCOMPARE(enabled("Copy"), false);
        QCOMPARE(enabled("Cut"), false);
        prompt->setProperty("echoMode", 0);

        trigger("New Window");
        QCOMPARE(app.windows().size(), 2);
        QVERIFY(goneAfter(window, [&] { trigger("Close Window"); }));
        QCOMPARE(app.windows().size(), 1);
        // Without the Mac's bar the window's own shortcut closes it.
        QQuickWindow *last = app.windows().first();
        QObject *keys = last->findChild<QObject *>(QStringLiteral("closeWindowKeys"));
        QVERIFY(keys && keys->property("enabled").toBool());
        QCOMPARE(keys->property("sequence").toString(), QStringLiteral("Ctrl+W"));
        QVERIFY(goneAfter(last, [&] { QMetaObject::invokeMethod(keys, "activated"); }));
        QVERIFY(app.windows().isEmpty());
    }

    // Where a new window goes: offset from the frontmost (starting again at the corner past the
    // edge), else where the last one closed but always wholly on a screen that still exists, else
    // the standard size centred. Two screens: 0,0 1920×1080 and 1920,0 1280×1024.
    void whereAWindowOpens_data()
    {
        // A null frontmost: no window open; a null lastClosed: none remembered.
        columns<QRect, QRect, QRect>("frontmost", "lastClosed", "placed");
        const auto row = [](const char *tag, QRect frontmost, QRect lastClosed, QRect placed) {
            QTest::newRow(tag) << frontmost << lastClosed << placed;
        };
        row("first ever", {}, {}, {370, 160, 1180, 760});
        row("as it was", {}, {100, 50, 1000, 700}, {100, 50, 1000, 700});
        row("on the second screen", {}, {2000, 100, 900, 700}, {2000, 100, 900, 700});
        row("its screen is gone", {}, {4000, 100, 900, 700}, {1020, 100, 900, 700});
        row("half off the edge", {}, {1400, 600, 1000, 700}, {920, 380, 1000, 700});
        row("larger than the screen", {}, {2100, 0, 2000, 1400}, {1920, 0, 1280, 1024});
        row("cascade", {100, 50, 1000, 700}, {5, 5, 10, 10}, {128, 78, 1000, 700});
        row("cascade past the edge", {900, 380, 1000, 700}, {}, {28, 28, 1000, 700});
    }
    void whereAWindowOpens()
    {
        QFETCH(QRect, frontmost);
        QFETCH(QRect, lastClosed);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        const auto optional = [](const QRect &rect) {
            return rect.isNull() ? std::nullopt : std::optional<QRect>(rect);
        };
        QTEST(DravlinApp::placeWindow(optional(frontmost), optional(lastClosed), screens, QSize(1180, 760)),
              "placed");
    }

    // A window closed comes back where it was, at its size, in the next launch's first window.
    void aReopenedWindowComesBackAtItsSize()
    {
        Settings::shared().setWindowFrame(QRect());
        QRect closedAt;
        {
            DravlinApp app;
            QQuickWindow *window = app.openWindow();
            QVERIFY(window);
            window->setGeometry(QRect(40, 30, 1000, 700));
            QTRY_COMPARE(window->size(), QSize(1000, 700));
            closedAt = window->geometry();
            QVERIFY(goneAfter(window, [&] { window->close(); }));
        }
        DravlinApp app;
        QQuickWindow *again = app.openWindow();
        QVERIFY(again);
        // As far as this machine's screens let it (the test's screen may be small).
        QList<QRect> screens;
        for (const QScreen *screen : QGuiApplication::screens())
            screens << screen->availableGeometry();
        const QRect expected = DravlinApp::placeWindow(std::nullopt, closedAt, screens, QSize(1180, 760));
        QCOMPARE(again->size(), expected.size());
        QVERIFY(expected.size() != QSize(1180, 760));
    }

    // The desktop's own file dialogs come through its portal when a desktop session has one; a
    // theme the user chose stands, and without a desktop, a bus or a portal Qt chooses.
    void theDesktopsOwnDialogs()
    {
        // theme set, desktop, bus, portal: the theme chosen.
        for (const auto &[theme, desktop, bus, portal, chosen] :
             {std::tuple{"", "GNOME", true, true, "xdgdesktopportal"},
              {"", "KDE", true, true, "xdgdesktopportal"},
              {"gtk3", "GNOME", true, true, ""},
              {"", "", true, true, ""},
              {"", "KDE", false, true, ""},
              {"", "KDE", true, false, ""}})
            QCOMPARE(DravlinApp::platformThemeFor(theme, desktop, bus, portal), QByteArray(chosen));
    }

    // A later launch hands its links to the running app; without links it asks for a window.
    // Only between processes of one user: a listener that is not ours gets nothing (the launch
    // runs on its own), and a launch that is not ours is not heard.
    void aSecondLaunchForwards_data()
    {
        columns<bool, bool>("listenerOurs", "launchOurs");
        QTest::newRow("both ours") << true << true;
        QTest::newRow("another user listens") << false << true;
        QTest::newRow("another user launches") << true << false;
    }
    void aSecondLaunchForwards()
    {
        QFETCH(bool, listenerOurs);
        QFETCH(bool, launchOurs);
        QTemporaryDir folder;
        QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString name = folder.filePath(QStringLiteral("dravlin-test"));
        SingleInstance running(name);
        SingleInstance later(name);
        const uint someoneElse = uint(::getuid()) + 1;
        if (!listenerOurs)
            later.setExpectedUserForTesting(someoneElse);
        if (!launchOurs)
            running.setExpectedUserForTesting(someoneElse);
        QVERIFY(!later.forwardToRunning({}));
        QVERIFY(running.listen());
        QSignalSpy launched(&running, &SingleInstance::launched);
        QSignalSpy refused(&running, &SingleInstance::refused);
        const QList<QUrl> links{QUrl(QStringLiteral("dravlin-mac://draw?model=a%20b")),
                                QUrl(QStringLiteral("dravlin-mac://draw?model=c"))};
        QCOMPARE(later.forwardToRunning(links), listenerOurs);
        if (!launchOurs)
            QVERIFY(!refused.isEmpty() || refused.wait());
        if (!listenerOurs || !launchOurs) {
            QVERIFY(launched.isEmpty());
            return;
        }
        QVERIFY(launched.wait());
        QCOMPARE(launched.takeFirst().first().value<QList<QUrl>>(), links);
        QVERIFY(later.forwardToRunning({}));
        QVERIFY(launched.wait());
        QVERIFY(launched.takeFirst().first().value<QList<QUrl>>().isEmpty());
        // A message of 64 KiB, its newline included, is a link; a byte more is not one of ours and
        // is dropped, while the next launch's arrives as usual.
        const auto link = [](qsizetype bytes) {
            const QByteArray head = "dravlin-mac://draw?model=";
            return QUrl::fromEncoded(head + QByteArray(bytes - head.size(), 'a'));
        };
        const QUrl atTheCap = link(SingleInstance::maxMessageBytes - 1);
        QVERIFY(later.forwardToRunning({atTheCap}));
        QVERIFY(launched.wait());
        QCOMPARE(launched.takeFirst().first().value<QList<QUrl>>(), QList<QUrl>{atTheCap});
        later.forwardToRunning({link(SingleInstance::maxMessageBytes)});
        QVERIFY(later.forwardToRunning({}));
        QVERIFY(launched.wait());
        QVERIFY(launched.takeFirst().first().value<QList<QUrl>>().isEmpty());
        QVERIFY(launched.isEmpty());
    }

    // The socket lives only in a folder that is the user's alone; anywhere else another user
    // could listen first, so there is no socket at all.
    void whereLaunchesMeet()
    {
        QTemporaryDir root;
        const auto folder = [&](const char *name, QFile::Permissions permissions) {
            const QString path = root.filePath(QString::fromLatin1(name));
            QDir().mkpath(path);
            QFile::setPermissions(path, permissions);
            return path;
        };
        const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        const QString mine = folder("mine", owner);
        QVERIFY(SingleInstance::isPrivateFolder(mine));
        QVERIFY(
            !SingleInstance::isPrivateFolder(folder("shared", owner | QFile::ReadOther | QFile::ExeOther)));
        QVERIFY(!SingleInstance::isPrivateFolder(folder("group", owner | QFile::ExeGroup)));
        QVERIFY(QFile::link(mine, root.filePath(QStringLiteral("link"))));
        QVERIFY(!SingleInstance::isPrivateFolder(root.filePath(QStringLiteral("link"))));
        QVERIFY(!SingleInstance::isPrivateFolder(root.filePath(QStringLiteral("missing"))));
        QVERIFY(!SingleInstance::isPrivateFolder(QStringLiteral("/tmp")));
        if (::getuid() != 0)
            QVERIFY(!SingleInstance::isPrivateFolder(QStringLiteral("/root")));

        const QString name = SingleInstance::defaultName();
#ifdef Q_OS_MACOS
        const QString runtime = QDir::tempPath();
#else
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
        QVERIFY(name.startsWith(runtime + '/'));
        SingleInstance nowhere{QString()};
        QVERIFY(!nowhere.listen());
        QVERIFY(!nowhere.forwardToRunning({}));
    }

    // Every kind of answer to running 1.9: the interactive check's alert (message|detail|buttons,
    // "*" for the network layer's own words), where its Download leads (only ever a web address,
    // else our own page), and what the silent check offers. Versions compare number by number,
    // a piece that is not plain ASCII digits (or beyond 64 bits) counting as 0. A query without a
    // usable answer never claims the app is up to date, and no query carries the sign-in token.
    void eachAnswerHasOneOutcome_data()
    {
        columns<QByteArray, QString, QString>("reply", "alert", "download"); // reply null: nothing answers
        const auto row = [](const char *tag, const char *reply, const QString &alert, const char *download) {
            QTest::newRow(tag) << QByteArray(reply) << alert << QString(download);
        };
        const auto newer = [](const char *version) {
            return QString("Dravlin %1 is available|You're on 1.9. Download the update?|Download,Later")
                .arg(version);
        };
        const QString upToDate = "You're up to date|Dravlin 1.9 is the latest version.|OK";
        const QString failed = "Couldn't check for updates|The reply was not understood.|OK";
        row("newer", "{\"version\":\"2.0\",\"url\":\"https://dl.example/d.dmg\"}", newer("2.0"),
            "https://dl.example/d.dmg");
        row("url not a string", R"({"version":"2.0","url":5})", newer("2.0"), "own page");
        row("a local file", "{\"version\":\"2.0\",\"url\":\"file:///etc/passwd\"}", newer("2.0"), "own page");
        row("a script", R"j({"version":"2.0","url":"javascript:alert(1)"})j", newer("2.0"), "own page");
        row("relative", R"({"version":"2.0","url":"/download"})", newer("2.0"), "own page");
        row("1.10 > 1.9", R"({"version":"1.10"})", newer("1.10"), "own page");
        row("a piece more", R"({"version":"1.9.1"})", newer("1.9.1"), "own page");
        row("empty pieces dropped", R"({"version":"1..10"})", newer("1..10"), "own page");
        row("largest 64-bit", R"({"version":"1.9223372036854775807"})", newer("1.9223372036854775807"),
            "own page");
        row("trailing zeros", R"({"version":"1.9.0.0"})", upToDate, "");
        row("a suffix makes 0", R"({"version":"1.10-beta"})", upToDate, "");
        row("beyond 64 bits is 0", R"({"version":"1.99999999999999999999"})", upToDate, "");
        row("non-ASCII digits are 0", "{\"version\":\"1.\u0661\u0660\"}", upToDate, "");
        row("no version", "{\"url\":\"https://x.example\"}", failed, "");
        row("version a number", R"({"version":3})", failed, "");
        row("not JSON", "<html>busy</html>", failed, "");
        row("unreachable", nullptr, "Couldn't check for updates|*|OK", "");
    }
    void eachAnswerHasOneOutcome()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, alert);
        QFETCH(QString, download);
        Keychain::write(QStringLiteral("api_token"), QStringLiteral("tok"));
        if (reply.isNull())
            useService(QUrl(QStringLiteral("http://127.0.0.1:1")));
        m_server.route("GET", "/api/app_version", FakeResponse::json(200, reply));
        const int asked = int(m_server.requests().size());
        DravlinApp app;
        QSignalSpy shown(&app, &DravlinApp::alertShown);
        app.checkForUpdates(QStringLiteral("1.9"));
        std::optional<std::optional<AppUpdate>> offered;
        AppUpdater::latestIfNewer(QStringLiteral("1.9"), &app,
                                  [&](const std::optional<AppUpdate> &update) { offered = update; });
        QVERIFY(shown.wait(20000));
        QTRY_VERIFY_WITH_TIMEOUT(offered, 20000);

        auto *window = qobject_cast<QQuickWindow *>(shown.first().first().value<QObject *>());
        QVERIFY(window);
        QStringList said = alertText(window).split('|');
        if (alert.contains(QLatin1String("|*|"))) // the network layer's own words
            said[1] = said[1].isEmpty() || said[1].contains(QLatin1String("latest")) ? QString() : "*";
        QCOMPARE(said.join('|'), alert);
        QTRY_VERIFY(window->isExposed());
        screenshot(window, QStringLiteral("update-alert-") + QString::fromLatin1(QTest::currentDataTag()));

        QVERIFY(goneAfter(window, [&] { QMetaObject::invokeMethod(window, "choose", Q_ARG(QVariant, 0)); }));
        const QUrl url = download == "own page"
                             ? QUrl(m_server.url().toString() + "/" + ServicePages::download)
                             : QUrl(download);
        QCOMPARE(m_opened, url.isEmpty() ? QList<QUrl>{} : QList<QUrl>{url});
        QCOMPARE(offered->value_or(AppUpdate()).url, url);
        for (const RecordedRequest &request : m_server.requests().mid(asked))
            QVERIFY(request.header("Authorization").isNull());
    }

private:
    FakeHttpServer m_server;
    QList<QUrl> m_opened;
};

QTEST_MAIN(TestAppShell)
#include "tst_appshell.moc"
