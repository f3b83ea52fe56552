#include "account/dravlinaccount.h"
#include "account/keychain.h"
#include "fakehttpserver.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include <memory>

namespace {

const QByteArray kApi = "/prefix/api/v1/"; // the service may live below a path
using OptText = std::optional<QString>;
using Framing = FakeResponse::Framing;

FakeResponse json(const QByteArray &body, int status = 200)
{
    return FakeResponse::json(status, body);
}

// Every token and key in this suite has "secret" in it, and no line logged may.
QStringList logged;
QtMessageHandler previousHandler = nullptr;

} // namespace

Q_DECLARE_METATYPE(FakeResponse)
Q_DECLARE_METATYPE(std::optional<QString>)

// The account against a fake service: its balance, sign-in, keys and publishing.
class TestDravlinAccount : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private:
    InMemorySecretStore *m_store = nullptr;
    std::unique_ptr<FakeHttpServer> m_server;
    // Another host, where the service's replies may try to send the token.
    FakeHttpServer m_elsewhere;

    // Answers the balance request with response and runs one refresh to its end.
    bool refresh(DravlinAccount &account, const FakeResponse &response)
    {
        m_server->route("GET", kApi + "me", response);
        QSignalSpy done(&account, &DravlinAccount::creditsRefreshed);
        account.refreshCredits();
        return done.isEmpty() && done.wait(10000); // told later, never from inside the call
    }

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("dravlin.*.debug=true"));
        previousHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                logged.append(message);
                previousHandler(type, context, message);
            });
    }
    void cleanupTestCase()
    {
        qInstallMessageHandler(previousHandler);
        for (const QString &message : std::as_const(logged))
            QVERIFY2(!message.contains(QStringLiteral("secret")), qPrintable(message));
    }

    void init()
    {
        m_store = Keychain::useInMemoryStoreForTesting();
        Settings::shared().setUsername(std::nullopt);
        Settings::shared().setEmail(std::nullopt);
        m_server = std::make_unique<FakeHttpServer>();
        useService(QUrl(m_server->url().toString() + "/prefix/"));
    }

    // The service address a setting may choose: https anywhere, plain http only on this machine,
    // since the token and the OpenRouter key travel with every request.
    void whichServiceAddressIsUsed()
    {
        for (const char *used : {"https://dravlin.app", "https://staging.example:8443/prefix/",
                                 "http://127.0.0.1:5000", "http://localhost:9", "http://[::1]/"})
            QVERIFY2(ServiceClient::baseURLFrom(QString::fromLatin1(used)), used);
        for (const char *refused :
             {"http://dravlin.app", "http://10.0.0.2:5000", "http://localhost.example.com", "ftp://127.0.0.1",
              "https://", "/relative", "file:///tmp/x"})
            QVERIFY2(!ServiceClient::baseURLFrom(QString::fromLatin1(refused)), refused);
    }

    // The balance follows any answer that is a whole JSON object, whatever its status; anything
    // else changes nothing. After the reply: "credits name", "-" for none.
    void theBalanceFollowsUsableReplies_data()
    {
        columns<FakeResponse, QString>("reply", "after");
        QTest::newRow("fraction") << json(R"({"credits": 12.75})") << "12.75 -";
        QTest::newRow("no credits") << json(R"({"username": "ada"})") << "- ada";
        QTest::newRow("wrong types") << json(R"({"credits":"5","username":7})") << "- -";
        QTest::newRow("error status, object body")
            << json(R"({"credits": 3, "username": "ada"})", 500) << "3 ada";
        QTest::newRow("not JSON") << json("<html>Welcome</html>") << "7 -";
        QTest::newRow("JSON array") << json(R"([{"credits": 1, "username": "b"}])") << "7 -";
        // The part that arrived is a whole object, but the answer was cut off: not an answer.
        QTest::newRow("cut off")
            << FakeResponse(200, Framing::ContentLength).write(R"({"credits": 1})").drop().write("  ")
            << "7 -";
        QTest::newRow("stalls mid-body")
            << FakeResponse(200, Framing::ContentLength).write(R"({"credits": 1)").hold().write("}") << "7 -";
        // The token must never follow a redirect to another host, whatever waits there.
        m_elsewhere.route("GET", kApi + "me", json(R"({"credits": 99})"));
        for (const int status : {301, 307, 308})
            QTest::newRow(qPrintable(QStringLiteral("%1 to another host").arg(status)))
                << FakeResponse(status, Framing::ContentLength)
                       .header("Location", m_elsewhere.url().toEncoded() + kApi + "me")
                << "7 -";
    }
    void theBalanceFollowsUsableReplies()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QString, after);
        Keychain::write(Keychain::apiTokenItem, QStringLiteral("secret-1"));
        DravlinAccount account;
        QVERIFY(refresh(account, json(R"({"credits": 7})")));
        Keychain::write(Keychain::apiTokenItem, QStringLiteral("secret-2"));
        account.setCreditsTimeoutMs(300);
        QVERIFY(refresh(account, reply));
        const QString credits = account.credits() ? QString::number(*account.credits()) : QStringLiteral("-");
        QCOMPARE(credits + ' ' + account.username().value_or("-"), after);
        QVERIFY(!Settings::shared().username()); // a name from a reply is for this window only
        // Each with the token stored when it was built.
        QCOMPARE(m_server->requests().first().header("Authorization"), QByteArray("Bearer secret-1"));
        QCOMPARE(m_server->requests().last().header("Authorization"), QByteArray("Bearer secret-2"));
        QVERIFY(m_elsewhere.requests().isEmpty());
    }

    // While the balance is being asked: a 401 ends the sign-in here too, unless the token was
    // replaced meanwhile (another window signed in); other statuses leave it. Signing out, signing
    // in anew or the account going closes the request: its answer would land on whoever is next.
    void whileTheBalanceIsAsked_data()
    {
        columns<int, QString, QString>("status", "meanwhile", "after");
        QTest::newRow("401") << 401 << QString() << "expired";
        QTest::newRow("403") << 403 << QString() << "signed in";
        QTest::newRow("401 for a token replaced meanwhile")
            << 401 << "token replaced" << QStringLiteral("signed in");
        QTest::newRow("signed out") << 200 << "signed out" << QStringLiteral("closed");
        QTest::newRow("signed in anew") << 200 << "signed in anew" << QStringLiteral("closed");
        QTest::newRow("deleted") << 200 << "deleted" << QStringLiteral("closed");
    }
    void whileTheBalanceIsAsked()
    {
        QFETCH(int, status);
        QFETCH(QString, meanwhile);
        QFETCH(QString, after);
        Keychain::write(Keychain::apiTokenItem, QStringLiteral("secret-1"));
        Settings::shared().setUsername(QStringLiteral("ada"));
        auto account = std::make_unique<DravlinAccount>();
        m_server->route("GET", kApi + "me",
                        FakeResponse(status, Framing::ContentLength).hold().write(R"({"credits": 5})"));
        m_server->route("POST", kApi + "auth/exchange", json(R"({"token":"secret-2"})"));
        QSignalSpy received(m_server.get(), &FakeHttpServer::requestReceived);
        QSignalSpy disconnected(m_server.get(), &FakeHttpServer::clientDisconnected);
        QSignalSpy done(account.get(), &DravlinAccount::creditsRefreshed);
        account->refreshCredits();
        QVERIFY(received.wait());
        if (meanwhile == QLatin1String("token replaced"))
            Keychain::write(Keychain::apiTokenItem, QStringLiteral("secret-2"));
        else if (meanwhile == QLatin1String("signed out"))
            account->signOut();
        else if (meanwhile == QLatin1String("signed in anew"))
            account->completeSignIn(QUrl(QStringLiteral("dravlin-mac://auth?code=c")));
        else if (meanwhile == QLatin1String("deleted"))
            account.reset();
        if (after == QLatin1String("closed")) {
            QVERIFY(disconnected.size() == 1 || disconnected.wait());
            QCOMPARE(done.size(), account ? 1 : 0);
            return;
        }
        m_server->release();
        QVERIFY(done.wait());
        const bool signedIn = after == QLatin1String("signed in");
        QCOMPARE(account->signedIn(), signedIn);
        QCOMPARE(Keychain::value(Keychain::apiTokenItem).has_value(), signedIn);
        QCOMPARE(account->username(), signedIn ? OptText("ada") : OptText());
        QCOMPARE(account->authError(),
                 signedIn ? OptText()
                          : OptText(QString::fromUtf16(u"Your sign-in has expired \u2014 sign in again.")));
    }

    // Signed out, nothing about the account is shown or sent, its balance included; the key stays.
    void signingOutForgetsTheAccountAndKeepsTheKey()
    {
        Keychain::write(Keychain::apiTokenItem, QStringLiteral("secret-1"));
        Keychain::write(Keychain::openRouterKeyItem, QStringLiteral("secret-key"));
        Settings::shared().setUsername(QStringLiteral("ada"));
        Settings::shared().setEmail(QStringLiteral("ada@example.com"));
        DravlinAccount account;
        QVERIFY(account.signedIn() && account.email());
        // A remembered name stays: a reply only fills one in when none is known.
        QVERIFY(refresh(account, json(R"({"credits": 9, "username": "bob"})")));
        QCOMPARE(account.username(), OptText("ada"));
        QCOMPARE(account.credits(), std::optional<double>(9));
        account.signOut();
        QVERIFY(!account.signedIn() && !account.username() && !account.email() && !account.credits());
        QCOMPARE(Keychain::value(Keychain::apiTokenItem), std::nullopt);
        QVERIFY(!Settings::shared().username() && !Settings::shared().email());
        QCOMPARE(Keychain::value(Keychain::openRouterKeyItem), OptText("secret-key"));
        QVERIFY(account.hasOpenRouterKey());
        QVERIFY(refresh(account, json(R"({"credits": 3})")));
        QCOMPARE(account.credits(), std::nullopt);
        QCOMPARE(m_server->requests().size(), 1);
        // A name remembered without a token signs nobody in.
        Settings::shared().setUsername(QStringLiteral("ada"));
        QVERIFY(!DravlinAccount().signedIn() && !DravlinAccount().username());
        // The key is kept trimmed, and the flag tells what the store really holds once it answers.
        QTRY_VERIFY(!m_store->items.contains(Keychain::apiTokenItem));
        account.saveOpenRouterKey(QStringLiteral(" secret-k1 \n"));
        QCOMPARE(Keychain::value(Keychain::openRouterKeyItem), OptText("secret-k1"));
        QTRY_COMPARE(m_store->items.value(Keychain::openRouterKeyItem), QByteArray("secret-k1"));
        m_store->failWrites = true;
        QSignalSpy flag(&account, &DravlinAccount::hasOpenRouterKeyChanged);
        account.saveOpenRouterKey(QStringLiteral("secret-new"));
        QVERIFY(account.hasOpenRouterKey() && flag.wait());
        QVERIFY(!account.hasOpenRouterKey() && !Keychain::value(Keychain::openRouterKeyItem));
        QVERIFY(!m_store->items.contains(Keychain::openRouterKeyItem));
    }

    // An account with nothing known yet reads the store and says so once it has answered; a value
    // that is not UTF-8 is none. An account made after that knows at once.
    void theAccountStartsFromTheStore_data()
    {
        columns<QByteArray, QByteArray, bool>("token", "key", "signedIn");
        QTest::newRow("both") << QByteArray("secret-1") << QByteArray("secret-k") << true;
        QTest::newRow("neither") << QByteArray() << QByteArray() << false;
        QTest::newRow("not UTF-8") << QByteArray("secret-\xff") << QByteArray("\xc3") << false;
    }
    void theAccountStartsFromTheStore()
    {
        QFETCH(QByteArray, token);
        QFETCH(QByteArray, key);
        QFETCH(bool, signedIn);
        if (!token.isNull())
            m_store->items.insert(Keychain::apiTokenItem, token);
        if (!key.isNull())
            m_store->items.insert(Keychain::openRouterKeyItem, key);
        Settings::shared().setUsername(QStringLiteral("ada"));
        DravlinAccount account;
        QSignalSpy loaded(&account, &DravlinAccount::loaded);
        QVERIFY(!account.isLoaded() && !account.signedIn() && !account.hasOpenRouterKey());
        QVERIFY(loaded.wait());
        QCOMPARE(account.signedIn(), signedIn);
        QCOMPARE(account.username(), signedIn ? OptText("ada") : OptText());
        QCOMPARE(account.hasOpenRouterKey(), signedIn);
        const DravlinAccount later;
        QVERIFY(later.isLoaded());
        QCOMPARE(later.signedIn(), signedIn);
        QCOMPARE(later.hasOpenRouterKey(), signedIn);
    }

    // The first "code" of the address the sign-in page finished on is exchanged for a token; the
    // answer is judged by its body. Signed in: "token name email", "-" for none, and the new
    // account's balance is asked for at once; else the error.
    void aCallbackCodeIsExchanged_data()
    {
        columns<QString, FakeResponse, QByteArray, QString>("callback", "reply", "sent", "outcome");
        const FakeResponse ok = json(R"({"token":"secret-t","username":"ada","email":"ada@example.com"})");
        const QString ada = QStringLiteral("secret-t ada ada@example.com");
        const QString noCode = QString::fromUtf16(u"Sign-in failed \u2014 no code returned.");
        const QString noToken = QString::fromUtf16(u"Sign-in failed \u2014 couldn't exchange code.");
        QTest::newRow("no code item") << "dravlin-mac://auth?state=1" << ok << QByteArray() << noCode;
        QTest::newRow("two codes: the first")
            << "dravlin-mac://auth?code=first&code=second" << ok << QByteArray(R"({"code":"first"})") << ada;
        QTest::newRow("encoded") << "dravlin-mac://other/path?state=s&code=a%2Bb%20c" << ok
                                 << QByteArray(R"({"code":"a+b c"})") << ada;
        const QString c = QStringLiteral("dravlin-mac://auth?code=c");
        const QByteArray sent = R"({"code":"c"})";
        QTest::newRow("an error status with a token")
            << c << json(R"({"token":"secret-2","email":7})", 500) << sent << "secret-2 - -";
        QTest::newRow("token not a string") << c << json(R"({"token":42})") << sent << noToken;
        QTest::newRow("not JSON") << c << json("<html>oops</html>") << sent << noToken;
        QTest::newRow("cut off")
            << c << FakeResponse(200, Framing::ContentLength).write("{\"tok").drop().write("en\":1}") << sent
            << "Sign-in failed: The network connection was lost.";
        // Whole, it would be a valid answer with a token; no reply is kept past 64 MiB.
        FakeResponse huge = FakeResponse().write("{\"token\":\"secret-t\",\"pad\":\"");
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
        Settings::shared().setUsername(QStringLiteral("old"));
        m_server->route("POST", kApi + "auth/exchange", reply);
        m_server->route("GET", kApi + "me", json(R"({"credits": 4.5})"));
        DravlinAccount account;
        QSignalSpy finished(&account, &DravlinAccount::signInFinished);
        const QUrlQuery page(account.startSignIn());
        account.completeSignIn(QUrl(callback));
        QVERIFY(!finished.isEmpty() || finished.wait(20000));
        const std::optional<QString> token = Keychain::value(Keychain::apiTokenItem);
        QCOMPARE(account.signedIn(), token.has_value());
        if (token) {
            QCOMPARE(*token + ' ' + account.username().value_or("-") + ' ' + account.email().value_or("-"),
                     outcome);
            QCOMPARE(account.authError(), std::nullopt);
            // The name shown is the one remembered, or none is.
            QCOMPARE(Settings::shared().username(), account.username());
            QTRY_COMPARE(account.credits(), std::optional<double>(4.5));
        } else {
            QCOMPARE(account.authError(), OptText(outcome));
        }
        QCOMPARE(m_server->requests().size(), sent.isEmpty() ? 0 : token ? 2 : 1);
        if (sent.isEmpty())
            return;
        const RecordedRequest request = m_server->requests().first();
        // The code goes with the secret whose challenge the sign-in page was opened with.
        QJsonObject body = QJsonDocument::fromJson(request.body).object();
        const QString verifier = body.take(QStringLiteral("code_verifier")).toString();
        QCOMPARE(verifier.size(), 43);
        QCOMPARE(page.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
        QCOMPARE(page.queryItemValue(QStringLiteral("code_challenge")),
                 DravlinAccount::challengeFor(verifier));
        QCOMPARE(QJsonDocument(body), QJsonDocument::fromJson(sent));
        QVERIFY(request.header("Authorization").isNull());
    }

    void aReplacedExchangeIsClosedAndLetGo()
    {
        m_server->route("POST", kApi + "auth/exchange", FakeResponse().hold());
        DravlinAccount account;
        QSignalSpy received(m_server.get(), &FakeHttpServer::requestReceived);
        QSignalSpy disconnected(m_server.get(), &FakeHttpServer::clientDisconnected);
        QSignalSpy finished(&account, &DravlinAccount::signInFinished);
        account.completeSignIn(QUrl(QStringLiteral("dravlin-mac://auth?code=first")));
        QVERIFY(received.wait());
        m_server->route("POST", kApi + "auth/exchange", json(R"({"token":"secret-2"})"));
        m_server->route("GET", kApi + "me", json(R"({"credits": 1})"));
        QSignalSpy balance(&account, &DravlinAccount::creditsRefreshed);
        account.completeSignIn(QUrl(QStringLiteral("dravlin-mac://auth?code=second")));
        QVERIFY(finished.wait());
        QVERIFY(account.signedIn());
        QVERIFY(balance.wait());
        QVERIFY(!disconnected.isEmpty() || disconnected.wait());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(account.findChildren<JsonReplyJob *>().isEmpty());
        QCOMPARE(finished.size(), 1);
    }

    // A drawing is published only on a 201 with a web address; otherwise the service's message or a
    // fixed one. One paid with credit carries its cost.
    void publishing_data()
    {
        columns<FakeResponse, QString>("reply", "result");
        QTest::newRow("created") << json("{\"url\":\"https://dravlin.app/d/7\"}", 201)
                                 << QStringLiteral("https://dravlin.app/d/7");
        QTest::newRow("201, a file url")
            << json("{\"url\":\"file:///etc/passwd\"}", 201) << QStringLiteral("publish failed");
        QTest::newRow("201, url and error")
            << json(R"({"url":5,"error":"bad url"})", 201) << QStringLiteral("bad url");
    }
    void publishing()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QString, result);
        Keychain::write(Keychain::apiTokenItem, QStringLiteral("secret-9"));
        m_server->route("POST", kApi + "drawings", reply);
        DravlinAccount account;
        const QString label = QString::fromUtf16(u"claude \u00b7 credits");
        QObject context;
        std::optional<PublishResult> done;
        account.publish({"<svg/>", "a fox", "claude", label, "credits", 0.0125, 1234, "Plan <svg/>"},
                        &context, [&](const PublishResult &r) { done = r; });
        QTRY_VERIFY_WITH_TIMEOUT(done.has_value(), 20000);
        QCOMPARE(done->error ? done->error->description() : done->url.toString(), result);
        const RecordedRequest request = m_server->requests().first();
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer secret-9"));
        const QJsonObject body{{"prompt", "a fox"},     {"model_id", "claude"}, {"model_label", label},
                               {"provider", "credits"}, {"svg", "<svg/>"},      {"content", "Plan <svg/>"},
                               {"duration_ms", 1234},   {"cost_usd", 0.0125}};
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), body);
    }
};

QTEST_GUILESS_MAIN(TestDravlinAccount)
#include "tst_dravlinaccount.moc"
