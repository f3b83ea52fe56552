#include "account/dravlinaccount.h"
#include "modelsharness.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

namespace {

const QString kUsernameKey = QStringLiteral("DravlinUsername");

FakeResponse json(const QByteArray &body, int status = 200)
{
    return FakeResponse::json(status, body);
}

} // namespace

Q_DECLARE_METATYPE(FakeResponse)

class TestServiceOperations : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private:
    std::unique_ptr<FakeHttpServer> m_server;

private slots:
    void init()
    {
        Keychain::useInMemoryStoreForTesting();
        Preferences::setValue(kUsernameKey, QStringLiteral("old"));
        m_server = std::make_unique<FakeHttpServer>();
        Preferences::setValue(QStringLiteral("DravlinBaseURL"), m_server->url().toString());
        ServiceClient::resetBaseURLForTesting();
    }

    // The first "code" of the address the sign-in page finished on is exchanged for a token; the
    // answer is judged by its body. Signed in: "token name email", "-" for none; else the error.
    void aCallbackCodeIsExchanged_data()
    {
        QTest::addColumn<QString>("callback");
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("outcome");
        const FakeResponse ok = json(R"({"token":"new-token","username":"ada","email":"ada@example.com"})");
        const QString ada = QStringLiteral("new-token ada ada@example.com");
        const QString noCode = QString::fromUtf16(u"Sign-in failed \u2014 no code returned.");
        const QString noToken = QString::fromUtf16(u"Sign-in failed \u2014 couldn't exchange code.");
        QTest::newRow("no code item") << "dravlin-mac://auth?state=1" << ok << QByteArray() << noCode;
        QTest::newRow("code without a value") << "dravlin-mac://auth?code" << ok << QByteArray() << noCode;
        QTest::newRow("two codes: the first")
            << "dravlin-mac://auth?code=first&code=second" << ok << QByteArray(R"({"code":"first"})") << ada;
        QTest::newRow("an empty code is still sent")
            << "dravlin-mac://auth?code=&code=x" << ok << QByteArray(R"({"code":""})") << ada;
        QTest::newRow("encoded") << "dravlin-mac://other/path?state=s&code=a%2Bb%20c" << ok
                                 << QByteArray(R"({"code":"a+b c"})") << ada;
        const QString c = QStringLiteral("dravlin-mac://auth?code=c");
        const QByteArray sent = R"({"code":"c"})";
        QTest::newRow("an error status with a token")
            << c << json(R"({"token":"t2","email":7})", 500) << sent << "t2 - -";
        QTest::newRow("no token") << c << json(R"({"username":"ada"})") << sent << noToken;
        QTest::newRow("token not a string") << c << json(R"({"token":42})") << sent << noToken;
        QTest::newRow("not JSON") << c << json("<html>oops</html>") << sent << noToken;
        QTest::newRow("cut off")
            << c
            << FakeResponse(200, FakeResponse::Framing::ContentLength).write("{\"tok").drop().write("en\":1}")
            << sent << "Sign-in failed: The network connection was lost.";
        // Whole, it would be a valid answer with a token; no reply is kept past 64 MiB.
        FakeResponse huge = FakeResponse().write("{\"token\":\"t\",\"pad\":\"");
        for (int i = 0; i < 64; ++i)
            huge.write(QByteArray(1024 * 1024, 'x'));
        QTest::newRow("over 64 MiB") << c << huge.write("\"}") << sent
                                     << "Sign-in failed: The reply was too large.";
    }
    void aCallbackCodeIsExchanged()
    {
        QFETCH(QString, callback);
        QFETCH(FakeResponse, reply);
        QFETCH(QByteArray, sent);
        QFETCH(QString, outcome);
        m_server->route("POST", "/api/v1/auth/exchange", reply);
        DravlinAccount account;
        QSignalSpy finished(&account, &DravlinAccount::signInFinished);
        account.completeSignIn(QUrl(callback));
        QVERIFY(!finished.isEmpty() || finished.wait(20000));
        const std::optional<QString> token = Keychain::get(Keychain::apiTokenItem);
        QCOMPARE(account.signedIn(), token.has_value());
        if (token) {
            QCOMPARE(*token + ' ' + account.username().value_or("-") + ' ' + account.email().value_or("-"),
                     outcome);
            QCOMPARE(account.authError(), std::nullopt);
            // The name shown is the one remembered, or none is.
            QCOMPARE(Preferences::value(kUsernameKey),
                     account.username() ? QVariant(*account.username()) : QVariant());
        } else {
            QCOMPARE(account.authError(), std::optional<QString>(outcome));
        }
        QCOMPARE(m_server->requests().size(), sent.isEmpty() ? 0 : 1);
        if (sent.isEmpty())
            return;
        const RecordedRequest request = m_server->requests().first();
        QCOMPARE(QJsonDocument::fromJson(request.body), QJsonDocument::fromJson(sent));
        QVERIFY(request.header("Authorization").isNull());
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    }

    void aReplacedExchangeIsClosedAndLetGo()
    {
        m_server->route("POST", "/api/v1/auth/exchange", FakeResponse().hold());
        DravlinAccount account;
        QSignalSpy received(m_server.get(), &FakeHttpServer::requestReceived);
        QSignalSpy disconnected(m_server.get(), &FakeHttpServer::clientDisconnected);
        QSignalSpy finished(&account, &DravlinAccount::signInFinished);
        account.completeSignIn(QUrl(QStringLiteral("dravlin-mac://auth?code=first")));
        QVERIFY(received.wait());
        m_server->route("POST", "/api/v1/auth/exchange", json(R"({"token":"t2"})"));
        account.completeSignIn(QUrl(QStringLiteral("dravlin-mac://auth?code=second")));
        QVERIFY(finished.wait());
        QVERIFY(account.signedIn());
        QVERIFY(!disconnected.isEmpty() || disconnected.wait());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(account.findChildren<JsonReplyJob *>().isEmpty());
        QCOMPARE(finished.size(), 1);
    }

    // A drawing is published only on a 201 with a web address; otherwise the service's message or a
    // fixed one. A drawing paid with credit carries its cost too. No provider: signed out.
    void publishing_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("result");
        const FakeResponse created = json("{\"url\":\"https://dravlin.app/d/7\"}", 201);
        const QString url = QStringLiteral("https://dravlin.app/d/7");
        QTest::newRow("local") << "local" << created << url;
        QTest::newRow("paid with credit") << "credits" << created << url;
        QTest::newRow("201, a file url")
            << "local" << json("{\"url\":\"file:///etc/passwd\"}", 201) << "publish failed";
        QTest::newRow("201, url and error")
            << "local" << json(R"({"url":5,"error":"bad url"})", 201) << "bad url";
        QTest::newRow("signed out") << QString() << created << "Not signed in.";
    }
    void publishing()
    {
        QFETCH(QString, provider);
        QFETCH(FakeResponse, reply);
        QFETCH(QString, result);
        if (!provider.isEmpty())
            QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("tok-9")));
        m_server->route("POST", "/api/v1/drawings", reply);
        DravlinAccount account;
        const PublishedDrawing drawing{
            "<svg/>", "a fox", "qwen3:4b", QString::fromUtf16(u"qwen3:4b \u00b7 local"),
            provider, 0.0125,  1234,       "Plan <svg/>"};
        QObject context;
        std::optional<PublishResult> done;
        account.publish(drawing, &context, [&](const PublishResult &r) { done = r; });
        QTRY_VERIFY_WITH_TIMEOUT(done.has_value(), 20000);
        QCOMPARE(done->error ? done->error->description() : done->url.toString(), result);
        QCOMPARE(m_server->requests().size(), provider.isEmpty() ? 0 : 1);
        if (provider.isEmpty())
            return;
        const RecordedRequest request = m_server->requests().first();
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-9"));
        QJsonObject body{
            {"prompt", "a fox"},    {"model_id", "qwen3:4b"}, {"model_label", drawing.modelLabel},
            {"provider", provider}, {"svg", "<svg/>"},        {"content", "Plan <svg/>"},
            {"duration_ms", 1234}};
        if (provider == QLatin1String("credits"))
            body.insert("cost_usd", 0.0125);
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), body);
    }
};

QTEST_GUILESS_MAIN(TestServiceOperations)
#include "tst_serviceops.moc"
