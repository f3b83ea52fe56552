#include "testenvironment.h"
#include "ui/formats.h"
#include "ui/visiblenarration.h"
#include "windowharness.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

namespace {
// The accessible object with that name and role below root, depth first.
QAccessibleInterface *findAccessible(QAccessibleInterface *root, const QString &name, QAccessible::Role role)
{
    if (!root)
        return nullptr;
    if (root->role() == role && root->text(QAccessible::Name) == name)
        return root;
    for (int i = 0; i < root->childCount(); ++i) {
        if (QAccessibleInterface *found = findAccessible(root->child(i), name, role))
            return found;
    }
    return nullptr;
}

bool press(QAccessibleInterface *control)
{
    if (!control || !control->actionInterface())
        return false;
    control->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    return true;
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

public:
    static void initMain()
    {
        isolateTestEnvironment();
        QtWebEngineQuick::initialize();
    }

private slots:
    // From a first start with nothing installed to a finished drawing: the onboarding gives way
    // to the controls once a model is listed, Return in the prompt draws, the narration streams,
    // and the result, its duration and its source appear.
    void aPromptIsDrawnFromTheWindow()
    {
        WindowHarness h;
        h.server.route("GET", "/api/tags", FakeResponse::json(200, R"({"models":[]})"));
        QVERIFY(h.load());
        QTRY_VERIFY(h.session()->ollamaUp() && h.item("onboarding")->isVisible());
        QVERIFY(!h.item("controls")->isVisible());
        // Commands sent before the page has loaded are lost, by design: draw once it is there.
        QTRY_COMPARE_WITH_TIMEOUT(h.item("canvas")->property("loadProgress").toInt(), 100, 30000);
        QTRY_VERIFY(!h.item("canvas")->property("loading").toBool());
        h.screenshot(QStringLiteral("onboarding"));

        // "Retry", pressed the way a screen reader presses it.
        h.server.route("GET", "/api/tags",
                       FakeResponse::json(200, R"({"models":[{"name":"gemma3:4b","size":3300000000}]})"));
        QAccessibleInterface *root = QAccessible::queryAccessibleInterface(h.window);
        QVERIFY(press(findAccessible(root, QStringLiteral("Retry"), QAccessible::Button)));
        QTRY_VERIFY(h.item("controls")->isVisible());
        QVERIFY(!h.item("onboarding")->isVisible());
        QCOMPARE(h.session()->selectedModel(), QStringLiteral("gemma3:4b"));
        for (const auto &[name, role] : {std::pair{"Model", QAccessible::Button},
                                         {"Prompt", QAccessible::EditableText},
                                         {"Draw", QAccessible::Button},
                                         {"More", QAccessible::Button},
                                         {"a lighthouse at sunset", QAccessible::Button}})
            QVERIFY2(findAccessible(root, QLatin1String(name), role), name);

        const QString reply = WindowHarness::recordedReply(QStringLiteral("lighthouse-reply.txt"));
        QVERIFY(!reply.isEmpty());
        const QList<QByteArray> lines = WindowHarness::chatLines(reply, 6, QStringLiteral("gemma3:4b"));
        const qsizetype held = lines.size() * 3 / 4;
        h.server.route("POST", "/api/chat",
                       FakeResponse(200).writeEach(lines.mid(0, held)).hold().writeEach(lines.mid(held)));

        QQuickItem *prompt = h.item("prompt");
        prompt->forceActiveFocus();
        for (const char c : QByteArray("a lighthouse at sunset"))
            QTest::keyClick(h.window, c);
        QTest::keyClick(h.window, Qt::Key_Return);
        QTRY_VERIFY(h.session()->running());
        QCOMPARE(h.session()->activePrompt(), QStringLiteral("a lighthouse at sunset"));

        QQuickItem *narration = h.item("narration");
        QTRY_VERIFY(narration->isVisible());
        QTRY_VERIFY(h.session()->narration().size() >= reply.size() * 3 / 4 - 12);
        const QString shown = VisibleNarration::of(reply);
        QCOMPARE(narration->property("text").toString(), shown);
        QVERIFY(!h.item("done")->isVisible());
        if (qEnvironmentVariableIsSet("DRAVLIN_SCREENSHOTS")) {
            QTest::qWait(600); // let the canvas paint what it has for the picture
            h.screenshot(QStringLiteral("drawing"));
        }

        h.server.release();
        QTRY_VERIFY_WITH_TIMEOUT(!h.session()->running(), 20000);
        QVERIFY(h.session()->statusNote().value_or(QString()).isEmpty());
        QVERIFY(h.session()->resultSVG().value_or(QString()).startsWith(QLatin1String("<svg")));
        QTRY_VERIFY(h.item("done")->isVisible());
        QCOMPARE(h.item("done")->property("text").toString(),
                 QStringLiteral("Done in ") + *h.session()->durationText());
        QVERIFY(h.item("codeBox")->isVisible());
        QCOMPARE(narration->property("text").toString(), shown);

        QAccessibleInterface *header =
            findAccessible(root, QStringLiteral("SVG code, ") + Formats::sizeLabel(*h.session()->resultSVG()),
                           QAccessible::Button);
        QVERIFY(press(header));
        QTRY_VERIFY(h.item("codeBoxHeader")->parentItem()->height() > 100);
        if (qEnvironmentVariableIsSet("DRAVLIN_SCREENSHOTS")) {
            QTest::qWait(600);
            h.screenshot(QStringLiteral("finished"));
        }

        // The ⋯ menu and its items, reached and pressed the way a screen reader does.
        QVERIFY(press(findAccessible(root, QStringLiteral("More"), QAccessible::Button)));
        const QString getModels = QString::fromUtf16(u"Get more models\u2026");
        QTRY_VERIFY(findAccessible(root, getModels, QAccessible::MenuItem));
        for (const char *item : {"OpenRouter key\u2026", "Drawings", "Models"})
            QVERIFY2(findAccessible(root, QString::fromUtf8(item), QAccessible::MenuItem), item);
        if (qEnvironmentVariableIsSet("DRAVLIN_SCREENSHOTS")) {
            QTest::qWait(400);
            h.screenshot(QStringLiteral("menu"));
        }
        QVERIFY(press(findAccessible(root, getModels, QAccessible::MenuItem)));
        QVERIFY(h.content->showGetModels());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
