#include "accessiblecontrols.h"
#include "app/translations.h"
#include "sessionharness.h"
#include "testenvironment.h"
#include "ui/formats.h"
#include "ui/visiblenarration.h"
#include "windowharness.h"

#include <QAccessible>
#include <QColor>
#include <QMimeData>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QWheelEvent>
#include <memory>

// The background of the in-window file dialog's folder bar, or an invalid colour without one.
QColor folderBarColor(QQuickItem *item)
{
    for (const QMetaObject *type = item->metaObject(); type; type = type->superClass()) {
        if (qstrcmp(type->className(), "QQuickFolderBreadcrumbBar") == 0)
            return item->property("background").value<QQuickItem *>()->property("color").value<QColor>();
    }
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children) {
        if (const QColor found = folderBarColor(child); found.isValid())
            return found;
    }
    return QColor();
}

class TestMainWindow : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_WEBENGINE_TEST_INIT_MAIN

private Q_SLOTS:
    // From a first start with nothing installed to a finished drawing: the onboarding gives way
    // to the controls once a model is listed, Return in the prompt draws, the narration streams,
    // and the result, its duration and its source appear.
    void aPromptIsDrawnFromTheWindow()
    {
        WindowHarness h;
        h.installed("[]");
        QVERIFY(h.load());
        QTRY_VERIFY(h.session()->catalog()->ollamaUp() && h.item("onboarding")->isVisible() &&
                    !h.item("controls")->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(canvasLoaded(h.window), 30000);
        h.screenshot(QStringLiteral("onboarding"));

        // "Retry", pressed the way a screen reader presses it.
        h.installed(R"([{"name":"gemma3:4b","size":3300000000}])");
        QVERIFY(press(findAccessible(h.window, "Retry")));
        QTRY_VERIFY(h.item("controls")->isVisible() && !h.item("onboarding")->isVisible());
        for (const auto &[name, role] : {std::pair{"Model", QAccessible::Button},
                                         {"Prompt", QAccessible::EditableText},
                                         {"Draw", QAccessible::Button}})
            QVERIFY2(findAccessible(h.window, QLatin1String(name), role), name);

        const QString reply = WindowHarness::recordedReply(QStringLiteral("lighthouse-reply.txt"));
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
        QTRY_VERIFY(narration->isVisible() && h.session()->narration().size() >= reply.size() * 3 / 4 - 12);
        const QString shown = VisibleNarration::of(reply);
        QCOMPARE(narration->property("text").toString(), shown);
        QVERIFY(!h.item("done")->isVisible());
        h.screenshot(QStringLiteral("drawing"), 600);

        h.server.release();
        QTRY_VERIFY_WITH_TIMEOUT(!h.session()->running() && h.item("done")->isVisible(), 20000);

        QCOMPARE(h.item("done")->property("text").toString(),
                 QStringLiteral("Done in ") + *h.session()->durationText());
        QCOMPARE(narration->property("text").toString(), shown);

        QAccessibleInterface *header = findAccessible(
            h.window, QStringLiteral("SVG code, ") + Formats::sizeLabel(*h.session()->resultSVG()));
        QVERIFY(press(header));
        QTRY_VERIFY(h.item("codeBoxHeader")->parentItem()->height() > 100);
        h.screenshot(QStringLiteral("finished"), 600);
    }

    // A thinking model plans aloud, "<svg>" and all: the whole of its thinking shows, muted and
    // apart, and its answer up to the drawing. The transcript keeps the model that drew, whatever
    // the picker says afterwards.
    void aThinkingModelKeepsItsNarration()
    {
        WindowHarness h;
        h.installed(R"([{"name":"qwen3:8b","capabilities":["completion","vision"]},{"name":"gemma3:4b"}])");
        QString thinking = QStringLiteral(
            "The user wants a lighthouse. I'll write one <svg> with a viewBox of 400×300: a dark sea, "
            "a striped tower, a lamp with a yellow glow. Then close it with </svg> and stop.");
        // Long enough to scroll: a model that thinks for a while.
        for (int paragraph = 0; paragraph < 12; ++paragraph)
            thinking += QStringLiteral("\n\nLet me check the proportions once more: the tower is a tall, "
                                       "narrow rectangle, the lamp a circle on top.");
        const QString answer = QStringLiteral("Here is a lighthouse on a calm night.");
        const QString svg =
            QStringLiteral("<svg viewBox=\"0 0 400 300\"><rect width=\"400\" height=\"300\" fill=\"#123\"/>"
                           "<rect x=\"180\" y=\"90\" width=\"40\" height=\"160\" fill=\"white\"/>"
                           "<circle cx=\"200\" cy=\"80\" r=\"16\" fill=\"gold\"/></svg>");
        const QString model = QStringLiteral("qwen3:8b");
        QList<QByteArray> lines = WindowHarness::chatLines(thinking, 7, model, true);
        lines.removeLast(); // it goes on to answer
        const qsizetype thinkingLines = lines.size();
        const QString reply = answer + QStringLiteral("\n```svg\n") + svg + QStringLiteral("\n```");
        lines += WindowHarness::chatLines(reply, 9, model);
        h.server.route("POST", "/api/chat",
                       FakeResponse(200)
                           .writeEach(lines.mid(0, thinkingLines))
                           .hold()
                           .writeEach(lines.mid(thinkingLines)));
        QVERIFY(h.load());
        QTRY_COMPARE(h.session()->catalog()->installed().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(canvasLoaded(h.window), 30000);
        h.session()->catalog()->setSelectedModel(model);
        h.session()->start(QStringLiteral("a lighthouse at night"));
        QTRY_VERIFY_WITH_TIMEOUT(h.session()->thinking() == thinking, 20000);
        // A reader who scrolls up stays where they are while the rest streams in; back at the
        // bottom, the transcript follows again.
        QQuickItem *view = h.item("transcriptView");
        const auto bottom = [view] {
            return view->property("contentHeight").toReal() - view->height();
        };
        QTRY_VERIFY(bottom() > 200 && view->property("contentY").toReal() >= bottom() - 1);
        // The wheel, three notches up, over the transcript.
        const QPointF at = view->mapToScene(QPointF(view->width() / 2, view->height() / 3));
        QWheelEvent wheel(at, h.window->mapToGlobal(at), QPoint(), QPoint(0, 360), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(h.window, &wheel);
        QTRY_VERIFY(!view->property("moving").toBool() &&
                    view->property("contentY").toReal() < bottom() - 100);
        const qreal readingAt = view->property("contentY").toReal();

        QQuickItem *transcript = h.item("transcript");
        QTRY_VERIFY(!transcript->property("followPending").toBool());
        QSignalSpy follows(transcript, SIGNAL(followPendingChanged()));
        h.server.release();
        QTRY_VERIFY_WITH_TIMEOUT(!h.session()->running() && h.item("done")->isVisible(), 20000);
        QCOMPARE(follows.size(), 0);
        QCOMPARE(view->property("contentY").toReal(), readingAt);
        QVERIFY(!h.item("transcript")->property("following").toBool());

        QCOMPARE(h.item("thinking")->property("text").toString(), thinking);
        QVERIFY(h.item("thinking")->isVisible());
        QCOMPARE(h.item("narration")->property("text").toString(), answer);
        QCOMPARE(h.session()->narration(), thinking + reply);
        h.session()->catalog()->setSelectedModel(QStringLiteral("gemma3:4b"));
        QCOMPARE(h.item("runModel")->property("text").toString(), model);
        h.screenshot(QStringLiteral("thinking"), 600);

        // Without a desktop of its own (as here) the file dialog is Qt's, drawn in the window: its
        // folder bar takes the window's dark palette instead of staying white under white names.
        h.session()->catalog()->setSelectedModel(model);
        QVERIFY(pressWhenShown(h.window, "Add a reference image"));
        QObject *dialog = nullptr;
        QTRY_VERIFY((dialog = h.window->findChild<QObject *>(QStringLiteral("referenceDialog"))) &&
                    dialog->property("visible").toBool());
        const QColor base =
            h.window->property("palette").value<QObject *>()->property("base").value<QColor>();
        QCOMPARE(base, QColor("#232127"));
        QTRY_COMPARE(folderBarColor(h.window->contentItem()), base);
        h.screenshot(QStringLiteral("dialog-reference-image"), 300);
        QMetaObject::invokeMethod(dialog, "reject");
    }

    // The keyboard alone: typing right after the window opens lands in the prompt; Shift+Tab
    // reaches the picker (with a ring), which opens with Return, moves with the arrows, keeps its
    // model on Escape and picks on Return; Ctrl+Return draws from anywhere, Escape stops, and the
    // keyboard is back in the prompt.
    void theKeyboardAlone()
    {
        WindowHarness h;
        // The local models are slow to answer: the user is already at the picker when they come.
        h.server.route("GET", "/api/tags",
                       FakeResponse().hold().write(R"({"models":[{"name":"alpha:8b"},{"name":"beta:4b"}]})"));
        h.server.route("POST", "/api/chat", FakeResponse().write(chatLine("A fox.")).hold());
        QVERIFY(h.load() && h.activate());
        QQuickItem *prompt = h.item("prompt");
        QTRY_VERIFY(h.item("controls")->isVisible() && prompt->hasActiveFocus());
        for (const char c : QByteArray("a fox"))
            QTest::keyClick(h.window, c);
        QCOMPARE(prompt->property("text").toString(), QStringLiteral("a fox"));

        // The usual edit menu under the right button.
        QTest::mouseClick(h.window, Qt::RightButton, {}, prompt->mapToScene(QPointF(30, 10)).toPoint());
        QTRY_VERIFY(findAccessible(h.window, "Paste", QAccessible::MenuItem));
        h.screenshot(QStringLiteral("edit-menu"));
        QVERIFY(press(findAccessible(h.window, "Select All", QAccessible::MenuItem)));
        QTRY_COMPARE(prompt->property("selectedText").toString(), QStringLiteral("a fox"));
        // A menu still closing would take the next key.
        QTRY_VERIFY(!findAccessible(h.window, "Paste", QAccessible::MenuItem));
        // The closed menu hands focus back on a later turn: the key goes once the prompt has it.
        prompt->forceActiveFocus();
        QTRY_VERIFY(prompt->hasActiveFocus() && h.window->activeFocusItem() == prompt);

        QTest::keyClick(h.window, Qt::Key_Backtab, Qt::ShiftModifier);
        QQuickItem *picker = h.item("picker");
        QTRY_VERIFY(picker->hasActiveFocus() && picker->property("visualFocus").toBool());
        h.server.release();
        QTRY_COMPARE(h.session()->catalog()->selectedModel(), QStringLiteral("alpha:8b"));
        QCoreApplication::processEvents();
        QVERIFY(picker->hasActiveFocus());
        h.screenshot(QStringLiteral("focus-picker"));
        QTest::keyClick(h.window, Qt::Key_Return);
        QQuickItem *list = nullptr;
        QTRY_VERIFY((list = h.item("pickerList")) && list->isVisible() && list->hasActiveFocus());
        QCOMPARE(list->property("currentIndex").toInt(), 1);
        QTest::keyClick(h.window, Qt::Key_Down);
        QCOMPARE(list->property("currentIndex").toInt(), 2);
        h.screenshot(QStringLiteral("picker-keyboard"));
        QTest::keyClick(h.window, Qt::Key_Escape);
        QTRY_VERIFY(!list->isVisible());
        QCOMPARE(h.session()->catalog()->selectedModel(), QStringLiteral("alpha:8b"));
        QTest::keyClick(h.window, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(list->isVisible());
        QTest::keyClick(h.window, Qt::Key_B);
        QTest::keyClick(h.window, Qt::Key_Return);
        QTRY_VERIFY(!list->isVisible());
        QCOMPARE(h.session()->catalog()->selectedModel(), QStringLiteral("beta:4b"));

        QTest::keyClick(h.window, Qt::Key_Return, Qt::ControlModifier);
        QTRY_VERIFY(h.session()->running());
        QCOMPARE(h.session()->activePrompt(), QStringLiteral("a fox"));
        QTRY_VERIFY(h.item("stop")->hasActiveFocus());
        QTest::keyClick(h.window, Qt::Key_Escape);
        QTRY_VERIFY(!h.session()->running());
        QCOMPARE(h.session()->statusNote(), std::optional<QString>(QStringLiteral("Stopped.")));
        QTRY_VERIFY(prompt->hasActiveFocus());
        // Onwards in reading order: Draw, then the first example chip.
        QTest::keyClick(h.window, Qt::Key_Tab);
        QTest::keyClick(h.window, Qt::Key_Tab);
        h.screenshot(QStringLiteral("focus-chip"));
    }

    // Text from a server is only ever text: markup in a model's name or in an error shows as
    // written and loads nothing.
    void serverTextIsPlainText()
    {
        WindowHarness h;
        const QByteArray probe = "<img src='" + h.server.url().toEncoded() + "/probe.png'>";
        const QByteArray name = "evil" + probe + ":1b";
        h.installed("[{\"name\":\"" + name + "\"}]");
        h.server.route("POST", "/api/chat",
                       FakeResponse::json(500, "{\"error\":\"<b>bad</b>" + probe + "\"}"));
        QVERIFY(h.load());
        h.session()->catalog()->refreshModels();
        QTRY_COMPARE(h.session()->catalog()->selectedModel(), QString::fromUtf8(name));
        h.session()->start(QStringLiteral("a fox"));
        QTRY_VERIFY(!h.session()->running() && h.session()->statusNote());
        QVERIFY(h.session()->statusNote()->contains(QString::fromUtf8(probe)));
        QVERIFY(h.activate());
        h.item("picker")->forceActiveFocus();
        QTest::keyClick(h.window, Qt::Key_Return);
        QTRY_VERIFY(h.item("pickerList") && h.item("pickerList")->isVisible());
        h.window->grabWindow(); // laid out and drawn, images and all
        h.screenshot(QStringLiteral("plain-text"));
        // One more round trip: a load the drawing asked for would have reached the server first.
        h.session()->catalog()->refreshModels();
        QVERIFY(h.server.waitForRequests("GET", "/api/tags", h.server.requestsTo("GET", "/api/tags") + 1));
        for (const RecordedRequest &request : h.server.requests())
            QVERIFY2(!request.path.contains("probe"), request.path.constData());
    }

    // The sidebar comes first: the canvas's web view is made only after the window's first frame,
    // and a drawing started before it exists reaches the page once the page has loaded.
    void theSidebarComesBeforeTheCanvas()
    {
        WindowHarness h;
        h.installed(R"([{"name":"gemma3:4b"}])");
        const QString svg =
            QStringLiteral("<svg viewBox=\"0 0 40 30\"><rect width=\"40\" height=\"30\" "
                           "fill=\"#123\"/><circle cx=\"20\" cy=\"15\" r=\"6\" fill=\"gold\"/></svg>");
        h.server.route(
            "POST", "/api/chat",
            FakeResponse(200).writeEach(WindowHarness::chatLines(svg, 5, QStringLiteral("gemma3:4b"))));
        QVERIFY(h.load());
        // Before the first listing has answered, the window is ready for typing, not onboarding.
        QVERIFY(h.item("prompt")->isVisible() && !h.item("onboarding")->isVisible());
        QVERIFY(!h.item("canvas"));
        h.screenshot(QStringLiteral("before-canvas"));
        h.session()->catalog()->setSelectedModel(QStringLiteral("gemma3:4b"));
        h.session()->start(QStringLiteral("a moon"));
        QTRY_VERIFY_WITH_TIMEOUT(!h.session()->running() && canvasLoaded(h.window), 30000);
        QCOMPARE(h.session()->resultSVG().value_or(QString()), svg);
        // The page takes the run's commands once it has loaded, in a turn of its own: ask until it
        // answers with the drawing (an answer may outlive this function, never the window).
        const auto shown = std::make_shared<QString>();
        const auto ask = [&h, shown] {
            h.session()->canvas()->requestDrawingSvg(h.window,
                                                     [shown](const QString &drawing) { *shown = drawing; });
            return shown->contains(QLatin1String("<circle"));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(ask(), qPrintable(*shown), 20000);
    }

    // A picture file dragged from the desktop onto the window becomes the reference of a model
    // that sees images; for one that does not, the window refuses the drop, and the canvas never
    // gets it either.
    void anImageDroppedOnTheWindow()
    {
        WindowHarness h;
        h.installed(R"([{"name":"seer:4b","capabilities":["completion","vision"]},{"name":"plain:1b"}])");
        QVERIFY(h.load());
        h.session()->catalog()->refreshModels();
        QTRY_COMPARE(h.session()->catalog()->installed().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(canvasLoaded(h.window), 30000);
        QTemporaryDir dir;
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(QColor("#e8590c"));
        const QString photo = dir.filePath(QStringLiteral("photo.png"));
        QVERIFY(picture.save(photo));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(photo)});
        const QPoint over(h.window->width() / 2, h.window->height() / 2);
        auto drop = [&] {
            QDragEnterEvent enter(over, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(h.window, &enter);
            QDragMoveEvent move(over, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(h.window, &move);
            QDropEvent dropped(over, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(h.window, &dropped);
            return dropped.dropAction();
        };
        for (const char *model : {"plain:1b", "seer:4b"}) {
            h.session()->catalog()->setSelectedModel(QString::fromLatin1(model));
            const bool sees = h.session()->catalog()->selectedIsVision();
            const QUrl page = h.item("canvas")->property("url").toUrl();
            QCOMPARE(drop(), sees ? Qt::CopyAction : Qt::IgnoreAction);
            QCOMPARE(h.item("canvas")->property("url").toUrl(), page);
            QCOMPARE(h.session()->reference()->attached(), sees);
        }
        QCOMPARE(h.session()->reference()->data()->contentType, QStringLiteral("image/png"));
        QTRY_VERIFY(findAccessible(h.window, QStringLiteral("Remove reference image")));
        QTest::qWait(300); // only for the picture: the thumbnail loads on its own thread
        h.screenshot(QStringLiteral("dropped-reference"));
    }

    // The two sheets, driven the way a screen reader drives them: a download started from the
    // local tab keeps going across closing and reopening, the cloud tab searches and adds, and the
    // key sheet saves a trimmed key, shows it again masked, and removes it.
    void theSheets()
    {
        WindowHarness h;
        h.installed(R"([{"name":"phi4:14b","size":9053116391,"capabilities":["completion"]},
            {"name":"qwen3:8b","size":5225387923,"capabilities":["completion","tools"]}])");
        h.server.route("GET", "/api/v1/recommended_models", FakeResponse::json(200, R"({"models":[
            {"name":"llama3.2:3b","display_name":"Llama 3.2","size_gb":2.0,"min_ram_gb":4,"blurb":"",
             "updated_days":40,"updated":"1 month ago"},
            {"name":"gemma3:12b","display_name":"Gemma 3","size_gb":8.1,"min_ram_gb":8,"blurb":"",
             "updated_days":12,"updated":"12 days ago","cloud_id":"google/gemma-3-12b"},
            {"name":"deepseek-r1:671b","display_name":"DeepSeek R1","size_gb":404,"min_ram_gb":512,
             "blurb":"","updated_days":90,"cloud_id":"deepseek/deepseek-r1"}],
          "cloud_catalog":[{"id":"anthropic/claude-sonnet-4","name":"Claude Sonnet 4","vision":true},
            {"id":"openai/gpt-5","name":"GPT-5","vision":true},{"id":"google/gemma-3-12b","name":"Gemma 3 12B"},
            {"id":"deepseek/deepseek-r1","name":"DeepSeek R1"},{"id":"x-ai/grok-4","name":"Grok 4"}],
          "featured_cloud":["anthropic/claude-sonnet-4"]})"));
        h.server.route("POST", "/api/pull",
                       FakeResponse()
                           .write("{\"status\":\"pulling manifest\"}\n")
                           .write("{\"status\":\"pulling 26bd\",\"total\":100,\"completed\":38}\n")
                           .hold());
        QVERIFY(h.load());
        QTRY_COMPARE(h.session()->catalog()->installed().size(), 2);

        // The ⋯ menu and its items, reached and pressed the way a screen reader does.
        QVERIFY(press(findAccessible(h.window, "More")));
        const QString getModels = QString::fromUtf16(u"Get more models\u2026");
        QTRY_VERIFY(findAccessible(h.window, getModels, QAccessible::MenuItem));
        h.screenshot(QStringLiteral("menu"), 400);
        QVERIFY(press(findAccessible(h.window, getModels, QAccessible::MenuItem)));
        const QString get = QStringLiteral("Get 2GB llama3.2:3b");
        QVERIFY(pressWhenShown(h.window, get));
        // Tab goes round the sheet in reading order and never leaves it while it is open.
        QVERIFY(h.activate());
        QStringList tabOrder;
        for (int i = 0; i < 9; ++i) {
            QTest::keyClick(h.window, Qt::Key_Tab);
            tabOrder << QAccessible::queryAccessibleInterface(h.window->activeFocusItem())
                            ->text(QAccessible::Name);
        }
        QCOMPARE(tabOrder, (QStringList{"Local", "Cloud", "Done", "Get 8GB gemma3:12b",
                                        "Cancel download of llama3.2:3b", "Add cloud DeepSeek R1",
                                        "Remove qwen3:8b from disk", "Remove phi4:14b from disk", "Local"}));
        const QString cancel = QStringLiteral("Cancel download of llama3.2:3b");
        QTRY_VERIFY(findAccessible(h.window, cancel));
        QTRY_COMPARE(h.session()->downloads()->pulling().value(QStringLiteral("llama3.2:3b")), 0.38);
        QVERIFY(findAccessible(h.window, "Add cloud DeepSeek R1"));
        h.screenshot(QStringLiteral("sheet-local"));

        QVERIFY(press(findAccessible(h.window, "Done")));
        QTRY_VERIFY(!h.content->showGetModels());
        // The download goes on under the controls, where it can be cancelled without the sheet.
        QTRY_VERIFY(findAccessible(h.window, "Downloading llama3.2:3b, 38%", QAccessible::ProgressBar));
        h.screenshot(QStringLiteral("download-line"));
        // Closed is gone: reopening makes a fresh sheet, and only one.
        QTRY_VERIFY(!h.window->findChild<QObject *>(QStringLiteral("getModelsSheet")));
        h.content->activateMenuEntry(QStringLiteral("getModels"));
        QTRY_VERIFY(findAccessible(h.window, cancel));

        // Qt 6.4 reports every AbstractButton as a plain button, whatever role the view gives it.
        // (The search over the catalog is the sheet controller's test.)
        QVERIFY(press(findAccessible(h.window, "Cloud")));
        QVERIFY(pressWhenShown(h.window, "Add Gemma 3 12B"));
        QTRY_VERIFY(findAccessible(h.window, "Remove Gemma 3 12B"));
        QCOMPARE(h.session()->catalog()->enabledCloudIDs(),
                 QStringList{QStringLiteral("google/gemma-3-12b")});
        h.screenshot(QStringLiteral("sheet-cloud"));
        QVERIFY(press(findAccessible(h.window, "Done")));
        QTRY_VERIFY(!h.content->showGetModels());
        h.session()->downloads()->cancelPull(QStringLiteral("llama3.2:3b"));

        // The key sheet.
        h.content->activateMenuEntry(QStringLiteral("openRouterKey"));
        QQuickItem *key = nullptr;
        QTRY_VERIFY((key = h.item("key")) && key->isVisible());
        QVERIFY(!findAccessible(h.window, "Remove"));
        key->setProperty("text", QStringLiteral(" \t "));
        QVERIFY(!h.item("save")->isEnabled());
        key->setProperty("text", QStringLiteral("sk-or-v1-0123456789abcdef \n"));
        QVERIFY(h.item("save")->isEnabled());
        QVERIFY(press(findAccessible(h.window, "Save")));
        QTRY_VERIFY(!h.content->showKeySheet());
        QCOMPARE(Keychain::value(Keychain::openRouterKeyItem),
                 std::optional<QString>("sk-or-v1-0123456789abcdef"));

        QTRY_VERIFY(!h.window->findChild<QObject *>(QStringLiteral("keySheet")));
        h.content->activateMenuEntry(QStringLiteral("openRouterKey"));
        QTRY_VERIFY((key = h.item("key")) && key->isVisible());
        QCOMPARE(key->property("text").toString(), QStringLiteral("sk-or-v1-0123456789abcdef"));
        QCOMPARE(key->property("displayText").toString().contains(QLatin1String("sk-or")), false);
        QTRY_VERIFY(findAccessible(h.window, "Remove"));
        // Where the key really goes: with each cloud drawing, through the service.
        QVERIFY(findAccessible(
            QAccessible::queryAccessibleInterface(h.window),
            [](const QString &text) {
                return text.endsWith(QLatin1String(
                    "sent with each drawing request to the Dravlin service, which passes it to OpenRouter."));
            },
            QAccessible::StaticText));
        h.screenshot(QStringLiteral("key-sheet"));
        QVERIFY(press(findAccessible(h.window, "Remove")));
        QTRY_VERIFY(!h.content->showKeySheet());
        QVERIFY(!Keychain::value(Keychain::openRouterKeyItem));
    }

    // The window speaks the first of the user's languages that has a catalogue, plural forms and
    // all (the draw button, the prompt's placeholder, the ⋯ button, the model count), and English
    // where none has one.
    void theUsersLanguage_data()
    {
        columns<QLocale, QString, QString, QString, QString>("locale", "draw", "placeholder", "more",
                                                             "count");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << "Zeichnen"
                                << "Was soll gezeichnet werden?"
                                << "Mehr"
                                << "2 lokale Modelle";
        QTest::newRow("Finnish, untranslated") << QLocale(QLocale::Finnish, QLocale::Finland) << "Draw"
                                               << "What should it draw?"
                                               << "More"
                                               << "2 local models";
    }
    void theUsersLanguage()
    {
        QFETCH(QLocale, locale);
        const auto english = qScopeGuard([] {
            QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
            Translations::install();
        });
        QLocale::setDefault(locale);
        QCOMPARE(Translations::install(), locale.language() == QLocale::German ? "de" : "en");
        WindowHarness h;
        h.installed(R"([{"name":"alpha:8b"},{"name":"beta:4b"}])");
        QVERIFY(h.load());
        QTRY_COMPARE(h.session()->catalog()->installed().size(), 2);
        QFETCH(QString, draw);
        QFETCH(QString, more);
        QFETCH(QString, count);
        QTRY_VERIFY(findAccessible(h.window, draw) && findAccessible(h.window, more));
        QTRY_VERIFY(findAccessible(h.window, count, QAccessible::StaticText));
        QAccessibleInterface *prompt = findAccessible(h.window, "Prompt", QAccessible::EditableText);
        QVERIFY(prompt);
        QTEST(prompt->text(QAccessible::Description), "placeholder");
        QTRY_VERIFY_WITH_TIMEOUT(canvasLoaded(h.window), 30000);
        h.screenshot(QStringLiteral("language-") + locale.name(), 300);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
