#include "account/dravlinaccount.h"
#include "account/keychain.h"
#include "account/preferences.h"
#include "account/serviceclient.h"
#include "fakehttpserver.h"
#include "testenvironment.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

const QString kUsernameKey = QStringLiteral("DravlinUsername");
const QString kEmailKey = QStringLiteral("DravlinEmail");
using OptText = std::optional<QString>;
using OptNumber = std::optional<double>;
using Framing = FakeResponse::Framing;
using Json = QByteArray;

void pointServiceAt(const QString &base)
{
    Preferences::setValue(QStringLiteral("DravlinBaseURL"), base);
    ServiceClient::resetBaseURLForTesting();
}

// Runs one refresh to its end.
bool refresh(DravlinAccount &account)
{
    QSignalSpy done(&account, &DravlinAccount::creditsRefreshed);
    account.refreshCredits();
    return done.wait(10000);
}

} // namespace

Q_DECLARE_METATYPE(FakeResponse)
Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<double>)

class TestDravlinAccount : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private:
    InMemorySecretStore *m_store = nullptr;
    std::unique_ptr<FakeHttpServer> m_server; // the service every test talks to

    void answerMe(const FakeResponse &response) { m_server->route("GET", "/api/v1/me", response); }
    void answerMe(const QByteArray &json, int status = 200) { answerMe(FakeResponse::json(status, json)); }
    bool refreshWith(DravlinAccount &account, const QByteArray &json, int status = 200)
    {
        answerMe(json, status);
        return refresh(account);
    }

private slots:
    void init()
    {
        m_store = Keychain::useInMemoryStoreForTesting();
        Preferences::remove(kUsernameKey);
        Preferences::remove(kEmailKey);
        m_server = std::make_unique<FakeHttpServer>();
        pointServiceAt(m_server->url().toString());
    }

    // ---- who is signed in, and the name shown ----

    void theNameIsRememberedOrFilledInOnceAndThenKept_data()
    {
        QTest::addColumn<bool>("token");
        QTest::addColumn<OptText>("remembered");
        QTest::addColumn<OptText>("before");
        QTest::addColumn<OptText>("after");
        QTest::newRow("remembered name stays") << true << OptText("ada") << OptText("ada") << OptText("ada");
        QTest::newRow("no name: first reply fills it") << true << OptText() << OptText() << OptText("bob");
        QTest::newRow("no token: nothing shown or sent") << false << OptText("ada") << OptText() << OptText();
    }
    void theNameIsRememberedOrFilledInOnceAndThenKept()
    {
        QFETCH(bool, token);
        QFETCH(OptText, remembered);
        QFETCH(OptText, before);
        QFETCH(OptText, after);
        if (token)
            QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("tok")));
        if (remembered) {
            Preferences::setValue(kUsernameKey, *remembered);
            Preferences::setValue(kEmailKey, QStringLiteral("ada@example.com"));
        }
        DravlinAccount account;
        QCOMPARE(account.signedIn(), token);
        QCOMPARE(account.username(), before);
        QCOMPARE(account.email().has_value(), token && remembered);

        answerMe(R"({"credits": 3, "username": "bob"})");
        QSignalSpy done(&account, &DravlinAccount::creditsRefreshed);
        account.refreshCredits();
        QVERIFY(done.isEmpty()); // told later, never from inside the call
        QVERIFY(done.wait());
        QCOMPARE(account.username(), after);
        QCOMPARE(account.credits(), token ? OptNumber(3) : OptNumber());
        // A name learnt from a reply is kept for this window only, and the next reply leaves it.
        QCOMPARE(Preferences::value(kUsernameKey).isValid(), remembered.has_value());
        QVERIFY(refreshWith(account, R"({"credits": 3, "username": "carl"})"));
        QCOMPARE(account.username(), after);
        QCOMPARE(m_server->requests().size(), token ? 2 : 0);
    }

    // ---- the balance ----

    void aUsableReplySetsTheBalance_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<OptNumber>("credits");
        QTest::addColumn<OptText>("username");
        QTest::newRow("fraction") << Json(R"({"credits": 12.75})") << 200 << OptNumber(12.75) << OptText();
        QTest::newRow("zero") << Json(R"({"credits": 0})") << 200 << OptNumber(0) << OptText();
        QTest::newRow("no credits") << Json(R"({"username": "ada"})") << 200 << OptNumber() << OptText("ada");
        QTest::newRow("wrong types") << Json(R"({"credits":"5","username":7})") << 200 << OptNumber()
                                     << OptText();
        QTest::newRow("error status, object body")
            << Json(R"({"credits": 3, "username": "ada"})") << 500 << OptNumber(3) << OptText("ada");
    }
    void aUsableReplySetsTheBalance()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(OptNumber, credits);
        QFETCH(OptText, username);
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("tok")));
        DravlinAccount account;
        QVERIFY(refreshWith(account, R"({"credits": 7})"));
        QCOMPARE(account.credits(), OptNumber(7));
        QVERIFY(refreshWith(account, body, status));
        QCOMPARE(account.credits(), credits);
        QCOMPARE(account.username(), username);
    }

    void unusableRepliesChangeNothing_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<FakeResponse>("response");
        QTest::newRow("not JSON") << "service" << FakeResponse::json(200, "<html>Welcome</html>");
        QTest::newRow("JSON array") << "service"
                                    << FakeResponse::json(200, R"([{"credits": 1, "username": "b"}])");
        // The part that arrived is a whole object, but the answer was cut off: not an answer.
        QTest::newRow("cut off")
            << "service"
            << FakeResponse(200, Framing::ContentLength).write(R"({"credits": 1})").drop().write("     ");
        QTest::newRow("stalls mid-body")
            << "service"
            << FakeResponse(200, Framing::ContentLength).write(R"({"credits": 1)").hold().write("}");
        QTest::newRow("no answer at all") << "silent" << FakeResponse();
        QTest::newRow("connection refused") << "refused" << FakeResponse();
    }
    void unusableRepliesChangeNothing()
    {
        QFETCH(QString, where);
        QFETCH(FakeResponse, response);
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("tok")));
        DravlinAccount account;
        QVERIFY(refreshWith(account, R"({"credits": 7})"));

        answerMe(response);
        QTcpServer silent; // accepts connections (into the backlog) and never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        if (where != QLatin1String("service"))
            pointServiceAt(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));
        if (where == QLatin1String("refused"))
            silent.close();
        account.setCreditsTimeoutMs(300);
        QVERIFY(refresh(account));
        QCOMPARE(account.credits(), OptNumber(7));
        QCOMPARE(account.username(), std::nullopt);
    }

    // The service refusing the token ends the sign-in here too; other answers leave it.
    void aRefusedTokenSignsOut_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("tokenReplaced");
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("401") << 401 << false << false;
        QTest::newRow("403") << 403 << false << true;
        QTest::newRow("401 for a token replaced meanwhile") << 401 << true << true;
    }
    void aRefusedTokenSignsOut()
    {
        QFETCH(int, status);
        QFETCH(bool, tokenReplaced);
        QFETCH(bool, signedIn);
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("tok")));
        Preferences::setValue(kUsernameKey, QStringLiteral("ada"));
        DravlinAccount account;
        answerMe(FakeResponse(status, Framing::ContentLength).hold().write(R"({"error":"unauthorized"})"));
        QSignalSpy received(m_server.get(), &FakeHttpServer::requestReceived);
        QSignalSpy done(&account, &DravlinAccount::creditsRefreshed);
        account.refreshCredits();
        QVERIFY(received.wait());
        if (tokenReplaced)
            QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("tok-2")));
        m_server->release();
        QVERIFY(done.wait());
        QCOMPARE(account.signedIn(), signedIn);
        QCOMPARE(Keychain::get(Keychain::apiTokenItem).has_value(), signedIn);
        QCOMPARE(account.username(), signedIn ? OptText("ada") : OptText());
        QCOMPARE(account.authError(),
                 signedIn ? OptText()
                          : OptText(QString::fromUtf16(u"Your sign-in has expired \u2014 sign in again.")));
    }

    // ---- the request ----

    void theRequestGoesBelowTheBaseURLWithTheTokenStoredWhenBuilt()
    {
        pointServiceAt(m_server->url().toString() + QStringLiteral("/prefix"));
        m_server->route("GET", "/prefix/api/v1/me", FakeResponse::json(200, R"({"credits": 1})"));
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("first-token")));
        DravlinAccount account;
        QVERIFY(refresh(account));
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("second-token")));
        QVERIFY(refresh(account));

        const QList<RecordedRequest> requests = m_server->requests();
        QCOMPARE(requests.size(), 2);
        for (const RecordedRequest &request : requests) {
            QCOMPARE(request.method + ' ' + request.path, QByteArray("GET /prefix/api/v1/me"));
            QCOMPARE(int(std::count_if(request.headers.begin(), request.headers.end(),
                                       [](const auto &h) { return h.first.toLower() == "authorization"; })),
                     1);
        }
        QCOMPARE(requests[0].header("Authorization"), QByteArray("Bearer first-token"));
        QCOMPARE(requests[1].header("Authorization"), QByteArray("Bearer second-token"));
    }

    // An answer still on its way would land on whoever is signed in next.
    void endingTheAccountMidRequestClosesTheConnection_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("signed out") << "signed out";
        QTest::newRow("signed in anew") << "signed in anew";
        QTest::newRow("deleted") << "deleted";
    }
    void endingTheAccountMidRequestClosesTheConnection()
    {
        QFETCH(QString, ending);
        const bool deleteIt = ending == QLatin1String("deleted");
        answerMe(FakeResponse(200, Framing::ContentLength).hold().write(R"({"credits": 5})"));
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("tok")));
        auto account = std::make_unique<DravlinAccount>();
        QSignalSpy received(m_server.get(), &FakeHttpServer::requestReceived);
        QSignalSpy disconnected(m_server.get(), &FakeHttpServer::clientDisconnected);
        QSignalSpy done(account.get(), &DravlinAccount::creditsRefreshed);
        account->refreshCredits();
        QVERIFY(received.wait());
        if (deleteIt) {
            account.reset();
        } else if (ending == QLatin1String("signed out")) {
            account->signOut();
        } else {
            m_server->route("POST", "/api/v1/auth/exchange", FakeResponse::json(200, R"({"token":"t2"})"));
            account->completeSignIn(QUrl(QStringLiteral("dravlin-mac://auth?code=c")));
        }
        QVERIFY(disconnected.size() == 1 || disconnected.wait());
        QCOMPARE(done.size(), deleteIt ? 0 : 1);
    }

    // ---- the OpenRouter key ----

    void savingAKeyKeepsWhatTheStoreHolds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("failWrites");
        QTest::addColumn<OptText>("stored");
        QTest::newRow("trimmed") << " k1 \n" << false << OptText("k1");
        QTest::newRow("only spaces removes the key") << "    " << false << OptText();
        QTest::newRow("the store refuses") << "new" << true << OptText();
    }
    void savingAKeyKeepsWhatTheStoreHolds()
    {
        QFETCH(QString, text);
        QFETCH(bool, failWrites);
        QFETCH(OptText, stored);
        QVERIFY(Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("old")));
        DravlinAccount account;
        m_store->failWrites = failWrites;
        account.saveOpenRouterKey(text);
        QCOMPARE(Keychain::get(Keychain::openRouterKeyItem), stored);
        QCOMPARE(account.hasOpenRouterKey(), stored.has_value());
    }

    void signingOutForgetsTheAccountAndKeepsTheKeyAndBalance()
    {
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("tok")));
        QVERIFY(Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("or-key")));
        Preferences::setValue(kUsernameKey, QStringLiteral("ada"));
        Preferences::setValue(kEmailKey, QStringLiteral("ada@example.com"));
        DravlinAccount account;
        QVERIFY(refreshWith(account, R"({"credits": 9})"));
        account.signOut();

        QVERIFY(!account.signedIn());
        QCOMPARE(account.username(), std::nullopt);
        QCOMPARE(account.email(), std::nullopt);
        QCOMPARE(Keychain::get(Keychain::apiTokenItem), std::nullopt);
        QVERIFY(!Preferences::value(kUsernameKey).isValid() && !Preferences::value(kEmailKey).isValid());
        QCOMPARE(Keychain::get(Keychain::openRouterKeyItem), OptText("or-key"));
        QVERIFY(account.hasOpenRouterKey());
        QCOMPARE(account.credits(), OptNumber(9));
    }

    // ---- where requests go ----

    void endpointsJoinWithExactlyOneSlash_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("origin") << "https://x.test" << QString("api/v1/me") << "https://x.test/api/v1/me";
        QTest::newRow("origin/") << "https://x.test/" << QString("api/v1/me") << "https://x.test/api/v1/me";
        QTest::newRow("prefix") << "https://x.test/p" << QString("api/v1/me") << "https://x.test/p/api/v1/me";
        QTest::newRow("prefix/") << "https://x.test/p/" << QString("me") << "https://x.test/p/me";
        QTest::newRow("both slashes") << "https://x.test/p/" << QString("/oauth") << "https://x.test/p/oauth";
        QTest::newRow("query dropped") << "https://x.test/p?q=1#t" << QString("me") << "https://x.test/p/me";
    }
    void endpointsJoinWithExactlyOneSlash()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(ServiceClient::endpoint(QUrl(base), path).toString(), expected);
    }

    void anInvalidOverrideIsIgnored_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("not a URL") << QStringLiteral("not a url");
        QTest::newRow("ftp") << QStringLiteral("ftp://x");
        QTest::newRow("relative") << QStringLiteral("/relative");
        QTest::newRow("no host") << QStringLiteral("http://");
    }
    void anInvalidOverrideIsIgnored()
    {
        QFETCH(QString, value);
        pointServiceAt(value);
        QCOMPARE(ServiceClient::baseURL(), QUrl(QStringLiteral("https://dravlin.app")));
    }

    // ---- secrets ----

    void onlyValidUtf8ReadsAsAValue_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<OptText>("read");
        QTest::newRow("non-ASCII") << QString("clé-🔑").toUtf8() << OptText("clé-🔑");
        QTest::newRow("invalid byte") << QByteArray("ab\xff") << OptText();
        QTest::newRow("cut-off sequence") << QByteArray("ab\xc3") << OptText();
    }
    void onlyValidUtf8ReadsAsAValue()
    {
        QFETCH(QByteArray, stored);
        QFETCH(OptText, read);
        m_store->items.insert(Keychain::apiTokenItem, stored);
        QCOMPARE(Keychain::get(Keychain::apiTokenItem), read);
    }

    void noSecretReachesTheLog()
    {
        static QStringList logged;
        QLoggingCategory::setFilterRules(QStringLiteral("dravlin.*.debug=true"));
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { logged.append(message); });
        {
            QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("secret-token")));
            DravlinAccount account;
            QVERIFY(refreshWith(account, R"({"credits": 1})", 401));
            account.saveOpenRouterKey(QStringLiteral("secret-key"));
            m_store->failWrites = true;
            account.saveOpenRouterKey(QStringLiteral("secret-key-2"));
            account.signOut();
        }
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QString());
        for (const QString &message : std::as_const(logged))
            QVERIFY2(!message.contains(QStringLiteral("secret-")), qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestDravlinAccount)
#include "tst_dravlinaccount.moc"
