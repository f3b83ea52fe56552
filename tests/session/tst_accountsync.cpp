#include "account/dravlinaccount.h"
#include "modelsharness.h"
#include "recordingview.h"
#include "sessionharness.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

// A window with an account: local drawing through the fake local server, publishing and
// favourites through the fake service (the same server).
struct SyncHarness : ModelsHarness
{
    RecordingView view;
    DravlinAccount *account = nullptr;

    explicit SyncHarness(bool signedIn)
    {
        if (signedIn)
            Keychain::set(QStringLiteral("api_token"), QStringLiteral("tok-5"));
        Preferences::remove(QStringLiteral("DravlinPublishLocal"));
        account = new DravlinAccount;
        session->setAccount(account);
        session->canvas()->setWebView(&view);
        session->canvas()->setFrameIntervalMs(0);
        session->setSelectedModel(QStringLiteral("qwen3:4b"));
    }
    ~SyncHarness()
    {
        delete session;
        session = nullptr;
        delete account;
    }

    bool draw(const QString &prompt = QStringLiteral("a lighthouse"))
    {
        session->start(prompt);
        QSignalSpy running(session, &DrawSession::runningChanged);
        while (session->running()) {
            if (!running.wait(20000))
                return false;
        }
        return true;
    }

    void drawingReply()
    {
        server.route("POST", "/api/chat",
                     FakeResponse()
                         .write(chatLine("", "Tall tower."))
                         .write(chatLine("<svg viewBox=\\\"0 0 9 9\\\"><rect/></svg>"))
                         .write(chatDone()));
    }

    QJsonObject published() const
    {
        for (const RecordedRequest &request : server.requests()) {
            if (request.path == "/api/v1/drawings")
                return QJsonDocument::fromJson(request.body).object();
        }
        return {};
    }

    bool loadFavorites()
    {
        QSignalSpy loaded(session, &DrawSession::favoritesLoaded);
        session->loadFavorites();
        return !loaded.isEmpty() || loaded.wait(20000);
    }
};

} // namespace

class TestAccountSync : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // ---- publishing a local drawing ----

    void aDrawingStaysLocalSignedOutOrWhenTheUserSaysSo_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("signed out") << false;
        QTest::newRow("signed in, publishing turned off") << true;
    }
    void aDrawingStaysLocalSignedOutOrWhenTheUserSaysSo()
    {
        QFETCH(bool, signedIn);
        SyncHarness h(signedIn);
        QVERIFY(h.session->publishLocal());
        h.session->setPublishLocal(!signedIn);
        QCOMPARE(DrawSession().publishLocal(), !signedIn); // remembered for every window
        h.drawingReply();
        QVERIFY(h.draw());
        QVERIFY(h.session->resultSVG());
        QCOMPARE(h.session->publishedURL(), QUrl());
        QCOMPARE(h.session->statusNote(), std::nullopt);
        QCOMPARE(h.requestsTo("POST", "/api/v1/drawings"), 0);
    }

    void aSignedInDrawingIsPublishedWhileTheRunIsStillOn()
    {
        SyncHarness h(true);
        h.drawingReply();
        h.server.route("POST", "/api/v1/drawings",
                       FakeResponse::json(201, "{\"url\":\"https://dravlin.app/d/3\"}"));
        h.session->start(QStringLiteral("  a lighthouse "));
        h.session->setSelectedModel(QStringLiteral("other:1b")); // the picker moves on mid-run
        QVERIFY(h.waitForRequests("POST", "/api/v1/drawings", 1));
        QVERIFY(h.session->running()); // publishing is part of the run
        QSignalSpy running(h.session, &DrawSession::runningChanged);
        QVERIFY(running.wait());
        QCOMPARE(h.session->publishedURL(), QUrl("https://dravlin.app/d/3"));
        QCOMPARE(h.session->statusNote(), std::nullopt);

        const QJsonObject body = h.published();
        QCOMPARE(body.value("prompt").toString(), QStringLiteral("a lighthouse"));
        QCOMPARE(body.value("model_id").toString(), QStringLiteral("qwen3:4b"));
        QCOMPARE(body.value("model_label").toString(), QString::fromUtf16(u"qwen3:4b \u00b7 local"));
        QCOMPARE(body.value("provider").toString(), QStringLiteral("local"));
        QCOMPARE(body.value("svg").toString(), QStringLiteral("<svg viewBox=\"0 0 9 9\"><rect/></svg>"));
        // The transcript is everything the model said, thinking and markup included.
        QCOMPARE(body.value("content").toString(),
                 QStringLiteral("Tall tower.<svg viewBox=\"0 0 9 9\"><rect/></svg>"));
        QVERIFY(body.value("duration_ms").isDouble());
        QVERIFY(body.value("duration_ms").toDouble() >= 0);
        QVERIFY(!body.contains("cost_usd"));
    }

    void aFailedPublishKeepsTheDrawing_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("note");
        QTest::newRow("service message") << 413 << QByteArray(R"({"error":"SVG too large"})")
                                         << QStringLiteral("Publish failed: SVG too large");
        QTest::newRow("200 is not created") << 200 << QByteArray("{\"url\":\"https://dravlin.app/d/1\"}")
                                            << QStringLiteral("Publish failed: publish failed");
    }
    void aFailedPublishKeepsTheDrawing()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(QString, note);
        SyncHarness h(true);
        h.drawingReply();
        h.server.route("POST", "/api/v1/drawings", FakeResponse::json(status, reply));
        QVERIFY(h.draw());
        QCOMPARE(h.session->statusNote(), std::optional<QString>(note));
        QCOMPARE(h.session->resultSVG(), std::optional<QString>("<svg viewBox=\"0 0 9 9\"><rect/></svg>"));
        QVERIFY(h.session->durationText());
        QCOMPARE(h.session->publishedURL(), QUrl());
        QVERIFY(h.view.scripts.last().startsWith("window.finishDrawing && window.finishDrawing(\"<svg"));
    }

    void aTokenThatVanishedFailsThePublish()
    {
        SyncHarness h(true);
        Keychain::remove(QStringLiteral("api_token"));
        h.drawingReply();
        QVERIFY(h.draw());
        QCOMPARE(h.session->statusNote(), std::optional<QString>("Publish failed: Not signed in."));
        QCOMPARE(h.requestsTo("POST", "/api/v1/drawings"), 0);
    }

    void stoppingWhilePublishingEndsTheRunAndKeepsTheDrawing()
    {
        SyncHarness h(true);
        h.drawingReply();
        h.server.route("POST", "/api/v1/drawings", FakeResponse(201).hold());
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        h.session->start(QStringLiteral("a lighthouse"));
        QVERIFY(h.waitForRequests("POST", "/api/v1/drawings", 1));
        h.session->stop();
        QVERIFY(!h.session->running());
        QVERIFY(h.session->resultSVG());
        QCOMPARE(h.session->statusNote(), std::nullopt);
        QVERIFY(disconnected.count() > 0 || disconnected.wait());
    }

    // ---- favourites ----

    void anEmptyAccountListClearsTheLocalOne()
    {
        SyncHarness h(true);
        Preferences::setValue(QStringLiteral("DravlinEnabledCloud"), QStringLiteral("a/x,b/y"));
        h.server.route("GET", "/api/v1/favorites", FakeResponse::json(200, R"({"cloud_ids":[]})"));
        QSignalSpy changed(h.session, &DrawSession::enabledCloudChanged);
        QVERIFY(h.loadFavorites());
        QCOMPARE(h.session->enabledCloudRaw(), QString());
        QCOMPARE(changed.size(), 1);
    }

    void theAccountListReplacesTheLocalOneInItsOrder()
    {
        SyncHarness h(true);
        Preferences::setValue(QStringLiteral("DravlinEnabledCloud"), QStringLiteral("a/x"));
        h.server.route("GET", "/api/v1/favorites", FakeResponse::json(200, R"({"cloud_ids":["c/z","b/y"]})"));
        QVERIFY(h.loadFavorites());
        QCOMPARE(h.session->enabledCloudRaw(), QStringLiteral("c/z,b/y"));
    }

    void aSelectedCloudModelMissingFromTheListIsReplaced_data()
    {
        QTest::addColumn<QByteArray>("installed");
        QTest::addColumn<QByteArray>("favourites");
        QTest::addColumn<QString>("selected");
        QTest::newRow("by the first installed model")
            << QByteArray(R"([{"name":"gemma3:1b"}])") << QByteArray(R"({"cloud_ids":["c/z"]})")
            << QStringLiteral("gemma3:1b");
        QTest::newRow("by the first favourite")
            << QByteArray("[]") << QByteArray(R"({"cloud_ids":["c/z","d/w"]})") << QStringLiteral("c/z");
        QTest::newRow("a featured model stays with an empty list")
            << QByteArray("[]") << QByteArray(R"({"cloud_ids":[]})") << QStringLiteral("f/eat");
        QTest::newRow("a listed model stays")
            << QByteArray(R"([{"name":"gemma3:1b"}])") << QByteArray(R"({"cloud_ids":["c/z","f/eat"]})")
            << QStringLiteral("f/eat");
    }
    void aSelectedCloudModelMissingFromTheListIsReplaced()
    {
        QFETCH(QByteArray, installed);
        QFETCH(QByteArray, favourites);
        QFETCH(QString, selected);
        SyncHarness h(true);
        h.installed(installed);
        QVERIFY(h.refreshModels());
        h.catalog(R"({"models":[],"featured_cloud":["f/eat"]})");
        QVERIFY(h.refreshRecommended());
        h.session->setSelectedModel(QStringLiteral("f/eat"));
        h.server.route("GET", "/api/v1/favorites", FakeResponse::json(200, favourites));
        QVERIFY(h.loadFavorites());
        QCOMPARE(h.session->selectedModel(), selected);
    }

    void aLocalSelectionIsNeverTouched()
    {
        SyncHarness h(true);
        h.session->setModels({OllamaModel{QStringLiteral("someone/model:tag"), true, false, 1, {}}});
        h.session->setSelectedModel(QStringLiteral("someone/model:tag"));
        h.server.route("GET", "/api/v1/favorites", FakeResponse::json(200, R"({"cloud_ids":["c/z"]})"));
        QVERIFY(h.loadFavorites());
        QCOMPARE(h.session->selectedModel(), QStringLiteral("someone/model:tag"));
    }

    void anUnknownListChangesNothing()
    {
        SyncHarness h(true);
        Preferences::setValue(QStringLiteral("DravlinEnabledCloud"), QStringLiteral("a/x,,b/y,"));
        h.session->setSelectedModel(QStringLiteral("a/x"));
        h.server.route("GET", "/api/v1/favorites", FakeResponse::json(200, R"({"cloud_ids":["a/x",1]})"));
        QSignalSpy changed(h.session, &DrawSession::enabledCloudChanged);
        QVERIFY(h.loadFavorites());
        QCOMPARE(h.session->enabledCloudRaw(), QStringLiteral("a/x,,b/y,")); // byte for byte
        QVERIFY(changed.isEmpty());
        QCOMPARE(h.session->selectedModel(), QStringLiteral("a/x"));
    }

    void signedOutNothingIsFetchedOrSent()
    {
        SyncHarness h(false);
        QVERIFY(h.loadFavorites());
        h.session->toggleCloud(QStringLiteral("a/x"));
        QCoreApplication::processEvents();
        QCOMPARE(h.session->enabledCloudRaw(), QStringLiteral("a/x"));
        QVERIFY(h.server.requests().isEmpty());
    }

    void aToggleSendsTheWholeListAsItWasThen()
    {
        SyncHarness h(true);
        Preferences::setValue(QStringLiteral("DravlinEnabledCloud"), QStringLiteral("a/x"));
        h.server.route("PUT", "/api/v1/favorites", FakeResponse::json(200, "{}"));
        h.session->toggleCloud(QStringLiteral("b/y"));
        h.session->toggleCloud(QStringLiteral("a/x"));
        QVERIFY(h.waitForRequests("PUT", "/api/v1/favorites", 2));
        QStringList sent;
        for (const RecordedRequest &request : h.server.requests())
            sent.append(QString::fromUtf8(
                QJsonDocument(QJsonDocument::fromJson(request.body).object().value("cloud_ids").toArray())
                    .toJson(QJsonDocument::Compact)));
        sent.sort();
        QCOMPARE(sent, (QStringList{"[\"a/x\",\"b/y\"]", "[\"b/y\"]"}));
    }

    void signingInBringsTheFavouritesAlong()
    {
        SyncHarness h(false);
        h.server.route("POST", "/api/v1/auth/exchange", FakeResponse::json(200, R"({"token":"t"})"));
        h.server.route("GET", "/api/v1/favorites", FakeResponse::json(200, R"({"cloud_ids":["z/z"]})"));
        QSignalSpy loaded(h.session, &DrawSession::favoritesLoaded);
        h.account->completeSignIn(QUrl(QStringLiteral("dravlin-mac://auth?code=c")));
        QVERIFY(loaded.wait());
        QCOMPARE(h.session->enabledCloudRaw(), QStringLiteral("z/z"));
    }
};

QTEST_GUILESS_MAIN(TestAccountSync)
#include "tst_accountsync.moc"
