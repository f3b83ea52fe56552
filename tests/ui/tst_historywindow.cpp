#include "accessiblecontrols.h"
#include "testenvironment.h"
#include "ui/historycontroller.h"
#include "windowharness.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

// The class comes before the drawings: moc reads this file too, and raw strings confuse it.
// The kept drawings and the exports, driven in the real window the way a user (or a screen
// reader) does.
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
