#include "account/dravlinaccount.h"
#include "modelsharness.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

// A fake service and a fresh account in front of it.
struct ServiceHarness
{
    FakeHttpServer server;
    DravlinAccount *account = nullptr;

    explicit ServiceHarness(bool signedIn)
    {
        Keychain::useInMemoryStoreForTesting();
        Preferences::remove(QStringLiteral("DravlinUsername"));
        Preferences::remove(QStringLiteral("DravlinEmail"));
        Preferences::setValue(QStringLiteral("DravlinBaseURL"), server.url().toString());
        ServiceClient::resetBaseURLForTesting();
        if (signedIn)
            Keychain::set(QStringLiteral("api_token"), QStringLiteral("tok-9"));
        account = new DravlinAccount;
    }
    ~ServiceHarness() { delete account; }

    // Feeds a callback address to the account and waits until the sign-in has an outcome.
    void callback(const QString &url)
    {
        QSignalSpy finished(account, &DravlinAccount::signInFinished);
        account->completeSignIn(QUrl(url));
        if (finished.isEmpty() && !finished.wait(20000))
            qWarning("the sign-in did not finish");
    }

    PublishResult publish(const PublishedDrawing &drawing)
    {
        QObject context;
        PublishResult result;
        bool done = false;
        account->publish(drawing, &context, [&](const PublishResult &r) {
            result = r;
            done = true;
            context.setObjectName(QStringLiteral("done"));
        });
        QSignalSpy spy(&context, &QObject::objectNameChanged);
        if (!done && !spy.wait(20000))
            qWarning("publish did not finish");
        return result;
    }

    std::optional<QStringList> fetch()
    {
        QObject context;
        std::optional<QStringList> result;
        bool done = false;
        account->fetchFavorites(&context, [&](const std::optional<QStringList> &ids) {
            result = ids;
            done = true;
            context.setObjectName(QStringLiteral("done"));
        });
        QSignalSpy spy(&context, &QObject::objectNameChanged);
        if (!done && !spy.wait(20000))
            qWarning("fetch did not finish");
        return result;
    }
};

PublishedDrawing localDrawing()
{
    return {"<svg/>", "a fox", "qwen3:4b", QString::fromUtf16(u"qwen3:4b \u00b7 local"),
            "local",  0,       1234,       "Plan <svg/>"};
}

} // namespace

Q_DECLARE_METATYPE(FakeResponse)

class TestServiceOperations : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // ---- signing in ----

    void theSignInPageCarriesTheCallback()
    {
        ServiceHarness h(false);
        QCOMPARE(DravlinAccount::signInPageURL(),
                 QUrl(h.server.url().toString() + "/oauth/mac?redirect_uri=dravlin-mac://auth"));
    }

    void aCallbackWithoutACodeFails_data()
    {
        QTest::addColumn<QString>("callback");
        QTest::newRow("no query") << QStringLiteral("dravlin-mac://auth");
        QTest::newRow("no code item") << QStringLiteral("dravlin-mac://auth?state=1");
        QTest::newRow("code without a value") << QStringLiteral("dravlin-mac://auth?code");
        QTest::newRow("not a URL") << QString();
    }
    void aCallbackWithoutACodeFails()
    {
        QFETCH(QString, callback);
        ServiceHarness h(false);
        h.account->completeSignIn(QUrl(callback));
        QCOMPARE(h.account->authError(),
                 std::optional<QString>(QString::fromUtf16(u"Sign-in failed \u2014 no code returned.")));
        QVERIFY(h.server.requests().isEmpty());
        QVERIFY(!h.account->signedIn());
    }

    void theFirstCodeIsExchanged_data()
    {
        QTest::addColumn<QString>("callback");
        QTest::addColumn<QString>("code");
        QTest::newRow("one code") << QStringLiteral("dravlin-mac://auth?code=abc123")
                                  << QStringLiteral("abc123");
        QTest::newRow("two codes: the first")
            << QStringLiteral("dravlin-mac://auth?code=first&code=second") << QStringLiteral("first");
        QTest::newRow("an empty code is still sent")
            << QStringLiteral("dravlin-mac://auth?code=&code=x") << QString();
        QTest::newRow("encoded") << QStringLiteral("dravlin-mac://other/path?state=s&code=a%2Bb%20c")
                                 << QStringLiteral("a+b c");
    }
    void theFirstCodeIsExchanged()
    {
        QFETCH(QString, callback);
        QFETCH(QString, code);
        ServiceHarness h(false);
        h.server.route(
            "POST", "/api/v1/auth/exchange",
            FakeResponse::json(200, R"({"token":"new-token","username":"ada","email":"ada@example.com"})"));
        h.callback(callback);
        QCOMPARE(h.server.requests().size(), 1);
        const RecordedRequest request = h.server.requests().first();
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), (QJsonObject{{"code", code}}));
        QVERIFY(request.header("Authorization").isNull());
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(h.account->signedIn());
        QCOMPARE(Keychain::get(QStringLiteral("api_token")), std::optional<QString>("new-token"));
        QCOMPARE(h.account->username(), std::optional<QString>("ada"));
        QCOMPARE(h.account->email(), std::optional<QString>("ada@example.com"));
        QCOMPARE(Preferences::value(QStringLiteral("DravlinUsername")).toString(), QStringLiteral("ada"));
        QCOMPARE(h.account->authError(), std::nullopt);
    }

    void anExchangeIsJudgedByItsBodyNotItsStatus()
    {
        ServiceHarness h(false);
        Preferences::setValue(QStringLiteral("DravlinUsername"), QStringLiteral("old"));
        h.server.route("POST", "/api/v1/auth/exchange",
                       FakeResponse::json(500, R"({"token":"t2","email":7})"));
        h.callback(QStringLiteral("dravlin-mac://auth?code=c"));
        QVERIFY(h.account->signedIn());
        QCOMPARE(h.account->username(), std::nullopt);
        QCOMPARE(h.account->email(), std::nullopt);
        QVERIFY(!Preferences::value(QStringLiteral("DravlinUsername")).isValid());
        QVERIFY(!Preferences::value(QStringLiteral("DravlinEmail")).isValid());
    }

    void aFailedExchangeStoresNothing_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("no token") << QByteArray(R"({"username":"ada"})");
        QTest::newRow("token not a string") << QByteArray(R"({"token":42})");
        QTest::newRow("not JSON") << QByteArray("<html>oops</html>");
    }
    void aFailedExchangeStoresNothing()
    {
        QFETCH(QByteArray, body);
        ServiceHarness h(false);
        h.server.route("POST", "/api/v1/auth/exchange", FakeResponse::json(200, body));
        h.callback(QStringLiteral("dravlin-mac://auth?code=c"));
        QCOMPARE(h.account->authError(), std::optional<QString>(QString::fromUtf16(
                                             u"Sign-in failed \u2014 couldn't exchange code.")));
        QVERIFY(!h.account->signedIn());
        QCOMPARE(Keychain::get(QStringLiteral("api_token")), std::nullopt);
    }

    void anExchangeNotReceivedWholeSaysWhy_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("error");
        QTest::newRow("cut off")
            << FakeResponse(200, FakeResponse::Framing::ContentLength).write("{\"tok").drop().write("en\":1}")
            << "Sign-in failed: The network connection was lost.";
        // Whole, it would be a valid answer with a token; no reply is kept past 64 MiB.
        FakeResponse huge;
        huge.write("{\"token\":\"t\",\"pad\":\"");
        for (int i = 0; i < 64; ++i)
            huge.write(QByteArray(1024 * 1024, 'x'));
        QTest::newRow("over 64 MiB") << huge.write("\"}") << "Sign-in failed: The reply was too large.";
    }
    void anExchangeNotReceivedWholeSaysWhy()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QString, error);
        ServiceHarness h(false);
        h.server.route("POST", "/api/v1/auth/exchange", reply);
        h.callback(QStringLiteral("dravlin-mac://auth?code=c"));
        QCOMPARE(h.account->authError(), std::optional<QString>(error));
        QVERIFY(!h.account->signedIn());
    }

    void aReplacedExchangeIsClosedAndLetGo()
    {
        ServiceHarness h(false);
        h.server.route("POST", "/api/v1/auth/exchange", FakeResponse().hold());
        QSignalSpy received(&h.server, &FakeHttpServer::requestReceived);
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        h.account->completeSignIn(QUrl(QStringLiteral("dravlin-mac://auth?code=first")));
        QVERIFY(received.wait());
        h.server.route("POST", "/api/v1/auth/exchange", FakeResponse::json(200, R"({"token":"t2"})"));
        h.callback(QStringLiteral("dravlin-mac://auth?code=second"));
        QVERIFY(h.account->signedIn());
        QVERIFY(!disconnected.isEmpty() || disconnected.wait());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(h.account->findChildren<JsonReplyJob *>().isEmpty());
    }

    // ---- publishing ----

    void aLocalDrawingIsPublishedWithSevenMembers()
    {
        ServiceHarness h(true);
        h.server.route("POST", "/api/v1/drawings",
                       FakeResponse::json(201, "{\"url\":\"https://dravlin.app/d/7\"}"));
        const PublishResult result = h.publish(localDrawing());
        QCOMPARE(result.error, std::nullopt);
        QCOMPARE(result.url, QUrl("https://dravlin.app/d/7"));
        const RecordedRequest request = h.server.requests().first();
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-9"));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                 (QJsonObject{{"prompt", "a fox"},
                              {"model_id", "qwen3:4b"},
                              {"model_label", QString::fromUtf16(u"qwen3:4b \u00b7 local")},
                              {"provider", "local"},
                              {"svg", "<svg/>"},
                              {"content", "Plan <svg/>"},
                              {"duration_ms", 1234}}));
    }

    void aCreditDrawingAlsoCarriesItsCost()
    {
        ServiceHarness h(true);
        h.server.route("POST", "/api/v1/drawings",
                       FakeResponse::json(201, "{\"url\":\"https://dravlin.app/d/8\"}"));
        PublishedDrawing drawing = localDrawing();
        drawing.provider = QStringLiteral("credits");
        drawing.costUSD = 0.0125;
        QVERIFY(!h.publish(drawing).error);
        const QJsonObject body = QJsonDocument::fromJson(h.server.requests().first().body).object();
        QCOMPARE(body.size(), 8);
        QCOMPARE(body.value("cost_usd").toDouble(), 0.0125);
    }

    void onlyACreatedDrawingWithAWebAddressIsPublished_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("200 is not 201")
            << 200 << QByteArray("{\"url\":\"https://dravlin.app/d/1\"}") << QStringLiteral("publish failed");
        QTest::newRow("201, not JSON") << 201 << QByteArray("created") << QStringLiteral("publish failed");
        QTest::newRow("201, no url") << 201 << QByteArray(R"({"id":1})") << QStringLiteral("publish failed");
        QTest::newRow("201, a file url")
            << 201 << QByteArray("{\"url\":\"file:///etc/passwd\"}") << QStringLiteral("publish failed");
        QTest::newRow("201, url and error")
            << 201 << QByteArray(R"({"url":5,"error":"bad url"})") << QStringLiteral("bad url");
        QTest::newRow("422 with a message")
            << 422 << QByteArray(R"({"error":"SVG too large"})") << QStringLiteral("SVG too large");
        QTest::newRow("error is a number")
            << 500 << QByteArray(R"({"error":500})") << QStringLiteral("publish failed");
    }
    void onlyACreatedDrawingWithAWebAddressIsPublished()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        ServiceHarness h(true);
        h.server.route("POST", "/api/v1/drawings", FakeResponse::json(status, body));
        const PublishResult result = h.publish(localDrawing());
        QVERIFY(result.error);
        QCOMPARE(result.error->description(), message);
        QVERIFY(result.url.isEmpty());
    }

    void publishingSignedOutSendsNothing()
    {
        ServiceHarness h(false);
        const PublishResult result = h.publish(localDrawing());
        QVERIFY(result.error);
        QCOMPARE(result.error->description(), QStringLiteral("Not signed in."));
        QVERIFY(h.server.requests().isEmpty());
    }

    // ---- favourites ----

    void favouritesAreReadFromTheBodyWhateverTheStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QVariant>("ids");
        QTest::newRow("a list") << 200 << QByteArray(R"({"cloud_ids":["b/y","a/x","b/y"]})")
                                << QVariant(QStringList{"b/y", "a/x", "b/y"});
        QTest::newRow("401 with a list")
            << 401 << QByteArray(R"({"cloud_ids":["a/x"]})") << QVariant(QStringList{"a/x"});
        QTest::newRow("an empty list") << 200 << QByteArray(R"({"cloud_ids":[]})") << QVariant(QStringList{});
        QTest::newRow("a number among the ids")
            << 200 << QByteArray(R"({"cloud_ids":["a/x",3]})") << QVariant();
        QTest::newRow("not a list") << 200 << QByteArray(R"({"cloud_ids":"a/x"})") << QVariant();
        QTest::newRow("missing") << 200 << QByteArray(R"({})") << QVariant();
        QTest::newRow("not JSON") << 200 << QByteArray("nope") << QVariant();
    }
    void favouritesAreReadFromTheBodyWhateverTheStatus()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QVariant, ids);
        ServiceHarness h(true);
        h.server.route("GET", "/api/v1/favorites", FakeResponse::json(status, body));
        const std::optional<QStringList> fetched = h.fetch();
        QCOMPARE(fetched.has_value(), ids.isValid());
        if (fetched)
            QCOMPARE(*fetched, ids.toStringList());
        QCOMPARE(h.server.requests().first().header("Authorization"), QByteArray("Bearer tok-9"));
    }

    void favouritesOfNobodyAreUnknown()
    {
        ServiceHarness h(false);
        QCOMPARE(h.fetch(), std::nullopt);
        QObject context;
        QSignalSpy done(&context, &QObject::objectNameChanged);
        h.account->saveFavorites({"a/x"}, &context, [&] { context.setObjectName("done"); });
        QVERIFY(done.wait());
        QVERIFY(h.server.requests().isEmpty());
    }

    void savingSendsTheWholeList()
    {
        ServiceHarness h(true);
        h.server.route("PUT", "/api/v1/favorites", FakeResponse::json(500, "{}"));
        QObject context;
        QSignalSpy done(&context, &QObject::objectNameChanged);
        h.account->saveFavorites({}, &context, [&] { context.setObjectName("done"); });
        QVERIFY(done.wait());
        const RecordedRequest request = h.server.requests().first();
        QCOMPARE(request.method, QByteArray("PUT"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), (QJsonObject{{"cloud_ids", QJsonArray{}}}));
    }
};

QTEST_GUILESS_MAIN(TestServiceOperations)
#include "tst_serviceops.moc"
