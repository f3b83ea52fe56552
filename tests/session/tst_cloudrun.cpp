#include "account/dravlinaccount.h"
#include "canvas/canvascontroller.h"
#include "modelsharness.h"
#include "recordingview.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kReset = QStringLiteral("window.resetCanvas && window.resetCanvas()");

QString delta(const QString &text)
{
    return QStringLiteral("window.applyDelta && window.applyDelta(") + CanvasController::js(text) +
           QLatin1Char(')');
}

QString finishCommand(const QString &svg)
{
    return QStringLiteral("window.finishDrawing && window.finishDrawing(") + CanvasController::js(svg) +
           QLatin1Char(')');
}

QByteArray eventLine(const QJsonObject &event)
{
    return QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
}

// A signed-in window: an account with a stored token, a session drawing with a cloud model.
struct CloudHarness : ModelsHarness
{
    RecordingView view;
    DravlinAccount *account = nullptr;

    explicit CloudHarness(bool signedIn = true)
    {
        Keychain::remove(QStringLiteral("openrouter_key"));
        if (signedIn)
            Keychain::set(QStringLiteral("api_token"), QStringLiteral("tok-1"));
        else
            Keychain::remove(QStringLiteral("api_token"));
        Preferences::remove(QStringLiteral("DravlinPayWith"));
        account = new DravlinAccount;
        session->setAccount(account);
        session->canvas()->setWebView(&view);
        session->canvas()->setFrameIntervalMs(0);
        session->setSelectedModel(QStringLiteral("vendor/painter"));
        server.route("GET", "/api/v1/me", FakeResponse::json(200, R"({"credits":4.5,"username":"ada"})"));
    }
    ~CloudHarness() { delete account; }

    void reply(const FakeResponse &response) { server.route("POST", "/api/v1/generations", response); }

    bool draw(const QString &prompt = QStringLiteral("a heron"))
    {
        session->start(prompt);
        if (!session->running())
            return false;
        QSignalSpy running(session, &DrawSession::runningChanged);
        while (session->running()) {
            if (!running.wait(20000))
                return false;
        }
        return true;
    }

    QJsonObject sentBody() const
    {
        for (qsizetype i = server.requests().size() - 1; i >= 0; --i) {
            if (server.requests()[i].path == "/api/v1/generations")
                return QJsonDocument::fromJson(server.requests()[i].body).object();
        }
        return {};
    }

    RecordedRequest sentRequest() const
    {
        for (qsizetype i = server.requests().size() - 1; i >= 0; --i) {
            if (server.requests()[i].path == "/api/v1/generations")
                return server.requests()[i];
        }
        return {};
    }
};

} // namespace

class TestCloudRun : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // ---- before anything is sent ----

    void signedOutRunsAskToSignIn()
    {
        CloudHarness h(false);
        QVERIFY(h.draw());
        QCOMPARE(h.session->statusNote(), std::optional<QString>("Sign in to draw with cloud models."));
        QCOMPARE(h.requestsTo("POST", "/api/v1/generations"), 0);
        QCOMPARE(h.view.scripts, QStringList{kReset});

        // A window whose account is gone says the same.
        h.session->setAccount(nullptr);
        QVERIFY(h.draw());
        QCOMPARE(h.session->statusNote(), std::optional<QString>("Sign in to draw with cloud models."));
    }

    void payingByKeyWithoutAKeyIsRefused()
    {
        CloudHarness h;
        h.session->setPayWith(QStringLiteral("key"));
        QVERIFY(h.draw());
        QCOMPARE(
            h.session->statusNote(),
            std::optional<QString>(QString::fromUtf16(
                u"No OpenRouter key \u2014 add one from the \u22ef menu, or switch to Dravlin Credit.")));
        QCOMPARE(h.requestsTo("POST", "/api/v1/generations"), 0);
    }

    // ---- the request ----

    void theRequestCarriesThePromptModelAndPayment_data()
    {
        QTest::addColumn<QString>("payWith");
        QTest::addColumn<bool>("keyStored");
        QTest::addColumn<QByteArray>("keyHeader");
        QTest::newRow("credits, no key") << QStringLiteral("credits") << false << QByteArray();
        QTest::newRow("credits with a key: not sent") << QStringLiteral("credits") << true << QByteArray();
        QTest::newRow("key") << QStringLiteral("key") << true << QByteArray("sk-or-1");
    }
    void theRequestCarriesThePromptModelAndPayment()
    {
        QFETCH(QString, payWith);
        QFETCH(bool, keyStored);
        QFETCH(QByteArray, keyHeader);
        CloudHarness h;
        if (keyStored)
            Keychain::set(QStringLiteral("openrouter_key"), QStringLiteral("sk-or-1"));
        h.session->setPayWith(payWith);
        h.catalog(
            R"({"models":[],"cloud_catalog":[{"id":"vendor/painter","name":"Painter"}],"featured_cloud":["vendor/painter"]})");
        QVERIFY(h.refreshRecommended());
        h.reply(FakeResponse());
        QVERIFY(h.draw(QStringLiteral("  a heron at dawn ")));
        const RecordedRequest request = h.sentRequest();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-1"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("X-Openrouter-Key"), keyHeader);
        QCOMPARE(h.sentBody(), (QJsonObject{{"prompt", "a heron at dawn"},
                                            {"model_id", "vendor/painter"},
                                            {"model_label", "Painter"},
                                            {"paid_with", payWith}}));
    }

    void anImageGoesAlongOnlyToAModelWithVision()
    {
        CloudHarness h;
        h.catalog(
            R"({"models":[],"cloud_catalog":[{"id":"vendor/seer","name":"Seer","vision":true},{"id":"vendor/painter","name":"Painter"}],"featured_cloud":["vendor/seer","vendor/painter"]})");
        QVERIFY(h.refreshRecommended());
        QTemporaryDir dir;
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(dir.filePath("ref.jpg"), "jpeg"));
        QVERIFY(h.session->attachReferenceFile(dir.filePath("ref.jpg")));
        h.reply(FakeResponse());

        h.session->setSelectedModel(QStringLiteral("vendor/seer"));
        QVERIFY(h.draw());
        QCOMPARE(h.sentBody().value("image_base64").toString(), h.session->referenceData()->base64);
        QCOMPARE(h.sentBody().value("image_content_type").toString(), QStringLiteral("image/jpeg"));

        h.session->setSelectedModel(QStringLiteral("vendor/painter"));
        QVERIFY(h.draw());
        QVERIFY(!h.sentBody().contains("image_base64"));
        QVERIFY(!h.sentBody().contains("image_content_type"));
    }

    // ---- the events ----

    void reasoningIsNarrationAndAnswerIsDrawn()
    {
        CloudHarness h;
        h.reply(FakeResponse()
                    .write(eventLine({{"r", "Thinking about <svg> "}}))
                    .write(eventLine({{"c", "One <svg>:\n```svg\n<svg viewBox=\"0 0 2 2\">"}}))
                    .write("\r\n[]\r\nnot json\r")
                    .write(eventLine({{"c", "<rect/></svg>\n```"}, {"done", true}})));
        QVERIFY(h.draw());
        QCOMPARE(h.session->narration(),
                 QStringLiteral(
                     "Thinking about <svg> One <svg>:\n```svg\n<svg viewBox=\"0 0 2 2\"><rect/></svg>\n```"));
        const QString drawing = QStringLiteral("<svg viewBox=\"0 0 2 2\"><rect/></svg>");
        QCOMPARE(h.view.scripts, (QStringList{kReset, delta("One <svg>:\n```svg\n<svg viewBox=\"0 0 2 2\">"),
                                              delta("<rect/></svg>\n```"), finishCommand(drawing)}));
        QCOMPARE(h.session->resultSVG(), std::optional<QString>(drawing));
        QVERIFY(h.session->durationText());
        QCOMPARE(h.session->statusNote(), std::nullopt);
    }

    void theServicesSvgWinsOverTheStreamedOne()
    {
        CloudHarness h;
        h.reply(FakeResponse()
                    .write(eventLine({{"c", "<svg id=\"streamed\"></svg>"}}))
                    .write(eventLine({{"done", QJsonValue::Null}, {"svg", "<svg id=\"final\"/>"}})));
        QVERIFY(h.draw());
        QCOMPARE(h.session->resultSVG(), std::optional<QString>("<svg id=\"final\"/>"));
        QCOMPARE(h.view.scripts.last(), finishCommand("<svg id=\"final\"/>"));
    }

    void anUnfinishedDrawingIsNotAResult()
    {
        CloudHarness h;
        h.reply(FakeResponse()
                    .write(eventLine({{"c", "<svg><rect"}}))
                    .write(eventLine({{"done", 1}, {"svg", 7}})));
        QVERIFY(h.draw());
        QCOMPARE(h.session->resultSVG(), std::nullopt);
        QCOMPARE(h.session->statusNote(),
                 std::optional<QString>("The model replied but didn't finish an SVG."));
        QCOMPARE(h.view.scripts.last(), finishCommand(QString()));
    }

    void serviceMessagesAreShownUntilAnEmptyEndReplacesThem()
    {
        CloudHarness h;
        h.reply(FakeResponse()
                    .write(eventLine({{"error", "Model overloaded, retrying"}}))
                    .write(eventLine({{"c", "<svg></svg>"}}))
                    .write(eventLine({{"done", true}})));
        QVERIFY(h.draw());
        // The drawing was found: the message stays.
        QCOMPARE(h.session->statusNote(), std::optional<QString>("Model overloaded, retrying"));
        QCOMPARE(h.session->resultSVG(), std::optional<QString>("<svg></svg>"));

        // "<svg/>" alone is no closed drawing.
        h.reply(FakeResponse()
                    .write(eventLine({{"error", "Provider error"}}))
                    .write(eventLine({{"c", "<svg/>"}, {"done", true}})));
        QVERIFY(h.draw());
        QCOMPARE(h.session->statusNote(),
                 std::optional<QString>("The model replied but didn't finish an SVG."));

        h.reply(FakeResponse()
                    .write(eventLine({{"error", "Slow today"}, {"c", "<svg></svg>"}}))
                    .write(eventLine({{"done", true}})));
        QVERIFY(h.draw());
        QCOMPARE(h.session->statusNote(), std::optional<QString>("Slow today"));
        QCOMPARE(h.session->resultSVG(), std::optional<QString>("<svg></svg>"));
    }

    void twoEndsFinishTwiceAndRefreshCreditsTwice()
    {
        CloudHarness h;
        h.reply(FakeResponse()
                    .write(eventLine({{"done", true}, {"svg", "<svg id=\"1\"/>"}}))
                    .write(eventLine({{"done", true}, {"svg", "<svg id=\"2\"/>"}})));
        QVERIFY(h.draw());
        QCOMPARE(h.session->resultSVG(), std::optional<QString>("<svg id=\"2\"/>"));
        QCOMPARE(h.view.scripts.filter("finishDrawing").size(), 2);
        QVERIFY(h.waitForRequests("GET", "/api/v1/me", 2));
        QSignalSpy credits(h.account, &DravlinAccount::creditsChanged);
        QVERIFY(h.account->credits() || credits.wait());
        QCOMPARE(h.account->credits(), std::optional<double>(4.5));
    }

    void onlyWebAddressesBecomeTheLink_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QUrl>("shown");
        QTest::newRow("https") << QStringLiteral("https://dravlin.app/d/42")
                               << QUrl("https://dravlin.app/d/42");
        QTest::newRow("http") << QStringLiteral("http://127.0.0.1:9/d") << QUrl("http://127.0.0.1:9/d");
        QTest::newRow("a local file") << QStringLiteral("file:///etc/passwd") << QUrl();
        QTest::newRow("script") << QStringLiteral("javascript:alert(1)") << QUrl();
        QTest::newRow("custom scheme") << QStringLiteral("dravlin-mac://auth?code=x") << QUrl();
        QTest::newRow("relative") << QStringLiteral("/d/42") << QUrl();
        QTest::newRow("not a URL") << QStringLiteral("http://exa mple.com/") << QUrl();
    }
    void onlyWebAddressesBecomeTheLink()
    {
        QFETCH(QString, url);
        QFETCH(QUrl, shown);
        CloudHarness h;
        h.reply(FakeResponse()
                    .write(eventLine({{"url", url}}))
                    .write(eventLine({{"done", true}, {"svg", "<svg/>"}})));
        QVERIFY(h.draw());
        QCOMPARE(h.session->publishedURL(), shown);
    }

    // ---- failures ----

    void aDroppedStreamShowsWhyAndSendsNoFinish()
    {
        CloudHarness h;
        h.reply(FakeResponse(200, FakeResponse::Framing::ContentLength)
                    .write(eventLine({{"c", "<svg><rect/>"}}))
                    .drop()
                    .write(eventLine({{"done", true}})));
        QVERIFY(h.draw());
        QCOMPARE(h.session->statusNote(), std::optional<QString>("The network connection was lost."));
        QCOMPARE(h.view.scripts, (QStringList{kReset, delta("<svg><rect/>")}));
        QCOMPARE(h.session->resultSVG(), std::nullopt);
    }

    void aRefusedGenerationShowsItsStatusNotItsBody()
    {
        CloudHarness h;
        h.reply(FakeResponse::json(401, R"({"error":"token expired"})"));
        QVERIFY(h.draw());
        QCOMPARE(h.session->statusNote(), std::optional<QString>("generation failed (HTTP 401)"));
        QCOMPARE(h.view.scripts, QStringList{kReset});
    }

    void aTokenThatVanishedIsNotSignedIn()
    {
        CloudHarness h;
        Keychain::remove(QStringLiteral("api_token"));
        QVERIFY(h.account->signedIn());
        QVERIFY(h.draw());
        QCOMPARE(h.session->statusNote(), std::optional<QString>("Not signed in."));
        QCOMPARE(h.requestsTo("POST", "/api/v1/generations"), 0);
    }

    void aStreamWithoutAnEndLeavesNoMessage()
    {
        CloudHarness h;
        h.reply(FakeResponse().write(eventLine({{"c", "<svg></svg>"}})));
        QVERIFY(h.draw());
        QCOMPARE(h.session->statusNote(), std::nullopt);
        QCOMPARE(h.session->resultSVG(), std::nullopt);
        QCOMPARE(h.view.scripts.filter("finishDrawing").size(), 0);
    }

    void stoppingBeforeTheRunBeginsSaysStopped_data()
    {
        QTest::addColumn<QString>("model");
        QTest::newRow("local") << QStringLiteral("qwen3:4b");
        QTest::newRow("cloud") << QStringLiteral("vendor/painter");
    }
    void stoppingBeforeTheRunBeginsSaysStopped()
    {
        QFETCH(QString, model);
        CloudHarness h;
        h.session->setSelectedModel(model);
        QSignalSpy running(h.session, &DrawSession::runningChanged);
        h.session->start(QStringLiteral("a heron"));
        h.session->stop();
        QVERIFY(running.wait());
        QCOMPARE(h.session->statusNote(), std::optional<QString>("Stopped."));
        QCOMPARE(h.view.scripts, QStringList{kReset});
    }

    void stoppingClosesTheRequest()
    {
        CloudHarness h;
        h.reply(FakeResponse().write(eventLine({{"c", "<svg>"}})).hold().write(eventLine({{"done", true}})));
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        h.session->start(QStringLiteral("a heron"));
        QSignalSpy narration(h.session, &DrawSession::narrationChanged);
        QVERIFY(narration.wait());
        h.session->stop();
        QSignalSpy running(h.session, &DrawSession::runningChanged);
        QVERIFY(!h.session->running() || running.wait());
        QCOMPARE(h.session->statusNote(), std::optional<QString>("Stopped."));
        QVERIFY(!h.session->turnStartedAt().isValid());
        QVERIFY(disconnected.count() > 0 || disconnected.wait());
        QCOMPARE(h.view.scripts.filter("finishDrawing").size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCloudRun)
#include "tst_cloudrun.moc"
