#include "account/preferences.h"
#include "sessionharness.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

class TestDrawSession : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    void init() { Preferences::remove(QStringLiteral("DravlinPayWith")); }

    void startIsRefused_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("model");
        QTest::newRow("blank prompt") << QStringLiteral(" \n\t \r\n ") << QStringLiteral("qwen3:4b");
        QTest::newRow("empty prompt") << QString() << QStringLiteral("qwen3:4b");
        QTest::newRow("no model selected") << QStringLiteral("a fox") << QString();
    }
    void startIsRefused()
    {
        QFETCH(QString, prompt);
        QFETCH(QString, model);
        SessionHarness h;
        h.session.setSelectedModel(model);
        QSignalSpy running(&h.session, &DrawSession::runningChanged);
        QSignalSpy prompts(&h.session, &DrawSession::activePromptChanged);
        h.session.start(prompt);
        QVERIFY(!h.session.running());
        QVERIFY(running.isEmpty());
        QVERIFY(prompts.isEmpty());
        QVERIFY(h.view.scripts.isEmpty());
        QVERIFY(!h.session.turnStartedAt().isValid());
        QCoreApplication::processEvents();
        QVERIFY(h.server.requests().isEmpty());
    }

    void aSecondSubmitDuringARunChangesNothing()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat", FakeResponse().write(chatLine("Plan")).hold().write(chatDone()));
        h.session.start(QStringLiteral("  first  "));
        QSignalSpy narration(&h.session, &DrawSession::narrationChanged);
        QVERIFY(narration.wait());
        const QStringList scriptsBefore = h.view.scripts;
        const QDateTime startedAt = h.session.turnStartedAt();
        h.session.start(QStringLiteral("second"));
        QCOMPARE(h.session.activePrompt(), QStringLiteral("first"));
        QCOMPARE(h.session.narration(), QStringLiteral("Plan"));
        QCOMPARE(h.view.scripts, scriptsBefore);
        QCOMPARE(h.session.turnStartedAt(), startedAt);
        h.server.release();
        QVERIFY(h.waitForEnd());
        QCOMPARE(h.server.requests().size(), 1);
    }

    // Accepting a run clears the last one's fields in a fixed order, then resets the canvas.
    void acceptingARunResetsInOrder()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat", FakeResponse().write(chatLine("<svg></svg>")).write(chatDone()));
        QVERIFY(h.draw(QStringLiteral("first")));
        QVERIFY(h.session.resultSVG());
        QVERIFY(h.session.durationText());

        QStringList log;
        auto record = [&](const char *name) {
            return [&log, name] {
                log.append(QString::fromLatin1(name));
            };
        };
        connect(&h.session, &DrawSession::runningChanged, this, record("running"));
        connect(&h.session, &DrawSession::activePromptChanged, this, record("activePrompt"));
        connect(&h.session, &DrawSession::narrationChanged, this, record("narration"));
        connect(&h.session, &DrawSession::resultSVGChanged, this, record("resultSVG"));
        connect(&h.session, &DrawSession::durationTextChanged, this, record("durationText"));
        connect(&h.session, &DrawSession::statusNoteChanged, this, record("statusNote"));
        connect(&h.session, &DrawSession::turnStartedAtChanged, this, record("turnStartedAt"));
        h.view.onScript = [&](const QString &script) {
            log.append(script);
        };

        h.server.route("POST", "/api/chat", FakeResponse().hold());
        h.session.start(QStringLiteral("\n second "));
        QCOMPARE(log, (QStringList{"running", "activePrompt", "narration", "resultSVG", "durationText",
                                   "window.resetCanvas && window.resetCanvas()", "turnStartedAt"}));
        QVERIFY(h.session.running());
        QCOMPARE(h.session.activePrompt(), QStringLiteral("second"));
        QVERIFY(h.session.narration().isEmpty());
        QCOMPARE(h.session.resultSVG(), std::nullopt);
        QCOMPARE(h.session.durationText(), std::nullopt);
        QCOMPARE(h.session.statusNote(), std::nullopt);
        QVERIFY(h.session.turnStartedAt().isValid());
        h.session.stop();
        QVERIFY(h.waitForEnd());
    }

    void aStopEndsTheRunAndClearsTheTimer()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat", FakeResponse().write(chatLine("Thinking about it")).hold());
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        h.session.start(QStringLiteral("a fox"));
        QSignalSpy narration(&h.session, &DrawSession::narrationChanged);
        QVERIFY(narration.wait());
        h.session.stop();
        QVERIFY(h.waitForEnd());
        QVERIFY(!h.session.running());
        QVERIFY(!h.session.turnStartedAt().isValid());
        QCOMPARE(h.session.resultSVG(), std::nullopt);
        QCOMPARE(h.session.statusNote(), std::optional<QString>("Stopped."));
        QCOMPARE(h.session.narration(), QStringLiteral("Thinking about it"));
        QVERIFY(disconnected.count() == 1 || disconnected.wait());
        // A stop with nothing running is harmless.
        h.session.stop();
        QVERIFY(!h.session.running());
    }

    // An installed model is local whatever its name; anything else is cloud exactly with a slash.
    void theSlashDecidesLocalOrCloud_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("cloud");
        QTest::newRow("local name with tag") << QStringLiteral("llama3.2:3b") << false << false;
        QTest::newRow("local name without tag") << QStringLiteral("gemma3") << false << false;
        QTest::newRow("cloud id") << QStringLiteral("anthropic/claude-sonnet-4") << false << true;
        QTest::newRow("slash anywhere") << QStringLiteral("a/") << false << true;
        QTest::newRow("installed namespaced model") << QStringLiteral("someone/model:tag") << true << false;
        QTest::newRow("installed from a hub") << QStringLiteral("hf.co/org/repo:Q4_K_M") << true << false;
    }
    void theSlashDecidesLocalOrCloud()
    {
        QFETCH(QString, model);
        QFETCH(bool, installed);
        QFETCH(bool, cloud);
        SessionHarness h;
        if (installed)
            h.session.setModels({OllamaModel{model, true, false, 1, {}}});
        QCOMPARE(h.session.isCloudModel(model), cloud);
        h.server.route("POST", "/api/chat", FakeResponse().write(chatDone()));
        h.session.setSelectedModel(model);
        QCOMPARE(h.session.selectedIsCloud(), cloud);
        QCOMPARE(h.session.selectedModelLabel(), model);
        QVERIFY(h.draw());
        QCOMPARE(h.server.requests().size(), cloud ? 0 : 1);
        if (!cloud)
            QCOMPARE(QJsonDocument::fromJson(h.server.requests().first().body)["model"].toString(), model);
        QVERIFY(!h.session.running());
        QVERIFY(!h.session.turnStartedAt().isValid());
    }

    void visionComesFromTheInstalledModel()
    {
        DrawSession session;
        session.setSelectedModel(QStringLiteral("llava:7b"));
        QVERIFY(!session.selectedIsVision()); // not installed
        QSignalSpy details(&session, &DrawSession::selectionDetailsChanged);
        session.setModels({OllamaModel{QStringLiteral("llava:7b"), true, true, 1, {}},
                           OllamaModel{QStringLiteral("qwen3:4b"), true, false, 1, {}}});
        QVERIFY(session.selectedIsVision());
        QVERIFY(!details.isEmpty());
        session.setSelectedModel(QStringLiteral("qwen3:4b"));
        QVERIFY(!session.selectedIsVision());
        session.setSelectedModel(QStringLiteral("vendor/llava:7b"));
        QVERIFY(!session.selectedIsVision());
    }

    void durationsHaveOneDecimal_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0.04") << 0.04 << QStringLiteral("0.0s");
        QTest::newRow("12.34") << 12.34 << QStringLiteral("12.3s");
        QTest::newRow("75") << 75.0 << QStringLiteral("75.0s");
        QTest::newRow("3600.96") << 3600.96 << QStringLiteral("3601.0s");
    }
    void durationsHaveOneDecimal()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(DrawSession::formatDuration(seconds), text);
    }

    void payWithIsRememberedAcrossSessions()
    {
        {
            DrawSession session;
            QCOMPARE(session.payWith(), QStringLiteral("credits"));
            QSignalSpy changed(&session, &DrawSession::payWithChanged);
            session.setPayWith(QStringLiteral("key"));
            QCOMPARE(changed.size(), 1);
            session.setPayWith(QStringLiteral("key"));
            QCOMPARE(changed.size(), 1);
        }
        QCOMPARE(Preferences::value(QStringLiteral("DravlinPayWith")).toString(), QStringLiteral("key"));
        DrawSession later;
        QCOMPARE(later.payWith(), QStringLiteral("key"));
    }

    // Closing the window mid-run takes the run and its request with it, without a crash.
    void destroyingTheSessionMidRunClosesTheRequest()
    {
        FakeHttpServer server;
        server.route("POST", "/api/chat", FakeResponse().write(chatLine("<svg><rect/>")).hold());
        QSignalSpy disconnected(&server, &FakeHttpServer::clientDisconnected);
        auto *view = new RecordingView;
        {
            auto *session = new DrawSession;
            session->client()->setBase(server.url());
            session->canvas()->setWebView(view);
            session->setSelectedModel(QStringLiteral("qwen3:4b"));
            session->start(QStringLiteral("a fox"));
            QSignalSpy narration(session, &DrawSession::narrationChanged);
            QVERIFY(narration.wait());
            delete session;
        }
        QVERIFY(disconnected.wait());
        delete view;
    }
};

QTEST_GUILESS_MAIN(TestDrawSession)
#include "tst_drawsession.moc"
