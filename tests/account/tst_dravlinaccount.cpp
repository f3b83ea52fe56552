#include "account/dravlinaccount.h"
#include "account/keychain.h"
#include "account/preferences.h"
#include "account/publisherror.h"
#include "account/serviceclient.h"
#include "fakehttpserver.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

namespace {

const QString kBaseURLKey = QStringLiteral("DravlinBaseURL");
const QString kUsernameKey = QStringLiteral("DravlinUsername");
const QString kEmailKey = QStringLiteral("DravlinEmail");
const QByteArray kMePath = "/api/v1/me";

void pointServiceAt(const QString &base)
{
    Preferences::setValue(kBaseURLKey, base);
    ServiceClient::resetBaseURLForTesting();
}

// A fake service the base URL preference points at.
struct Service
{
    FakeHttpServer server;

    explicit Service(const QString &pathPrefix = QString())
    {
        pointServiceAt(server.url().toString() + pathPrefix);
    }

    void answerMe(const FakeResponse &response) { server.route("GET", kMePath, response); }
    void answerMe(const QByteArray &json, int status = 200) { answerMe(FakeResponse::json(status, json)); }
};

// Runs one refresh to its end.
bool refresh(DravlinAccount &account)
{
    QSignalSpy done(&account, &DravlinAccount::creditsRefreshed);
    account.refreshCredits();
    return done.wait(10000);
}

void storeToken(const QString &token)
{
    QVERIFY(Keychain::set(Keychain::apiTokenItem, token));
}

int headerCount(const RecordedRequest &request, const QByteArray &name)
{
    int count = 0;
    for (const auto &header : request.headers)
        count += header.first.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
    return count;
}

// A local port nothing listens on.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// A reply whose body stops halfway and then nothing more comes.
FakeResponse stallingMidBody()
{
    return FakeResponse(200, FakeResponse::Framing::ContentLength)
        .header("Content-Type", "application/json")
        .write(R"({"credits": 1)")
        .hold()
        .write("}");
}

QStringList s_logged;
void collectMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    s_logged.append(message);
}

} // namespace

Q_DECLARE_METATYPE(FakeResponse)
Q_DECLARE_METATYPE(std::optional<QString>)

class TestDravlinAccount : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private:
    InMemorySecretStore *m_store = nullptr;

    // Signed in with a remembered name, a balance of 7 and a server that answered it.
    void signInWithBalance(Service &service, DravlinAccount &account)
    {
        service.answerMe(R"({"credits": 7, "username": "ada"})");
        QVERIFY(refresh(account));
        QCOMPARE(account.credits(), std::optional<double>(7));
        QCOMPARE(account.username(), std::optional<QString>("ada"));
    }

private slots:
    void init()
    {
        m_store = Keychain::useInMemoryStoreForTesting();
        Preferences::remove(kBaseURLKey);
        Preferences::remove(kUsernameKey);
        Preferences::remove(kEmailKey);
        ServiceClient::resetBaseURLForTesting();
    }

    // ---- what a new account knows before any request ----

    void aStoredTokenSignsInWithTheRememberedNameAndEmail()
    {
        Service service;
        storeToken(QStringLiteral("tok"));
        Preferences::setValue(kUsernameKey, QStringLiteral("ada"));
        Preferences::setValue(kEmailKey, QStringLiteral("ada@example.com"));
        DravlinAccount account;
        QVERIFY(account.signedIn());
        QCOMPARE(account.username(), std::optional<QString>("ada"));
        QCOMPARE(account.email(), std::optional<QString>("ada@example.com"));
        QCOMPARE(account.credits(), std::nullopt);
        QCOMPARE(account.authError(), std::nullopt);
        QCoreApplication::processEvents();
        QVERIFY(service.server.requests().isEmpty());
    }

    void withoutATokenARememberedNameIsNotShown()
    {
        Preferences::setValue(kUsernameKey, QStringLiteral("ada"));
        Preferences::setValue(kEmailKey, QStringLiteral("ada@example.com"));
        DravlinAccount account;
        QVERIFY(!account.signedIn());
        QCOMPARE(account.username(), std::nullopt);
        QCOMPARE(account.email(), std::nullopt);
        QCOMPARE(account.property("username").toString(), QString());
    }

    void aTokenWithoutARememberedNameIsNamelessUntilTheFirstRefresh()
    {
        Service service;
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        QVERIFY(account.signedIn());
        QCOMPARE(account.username(), std::nullopt);
        QCOMPARE(account.email(), std::nullopt);

        service.answerMe(R"({"credits": 3, "username": "ada"})");
        QSignalSpy usernameChanged(&account, &DravlinAccount::usernameChanged);
        QVERIFY(refresh(account));
        QCOMPARE(account.username(), std::optional<QString>("ada"));
        QCOMPARE(usernameChanged.size(), 1);
        QCOMPARE(account.credits(), std::optional<double>(3));
        // Shown for this window only: not remembered.
        QVERIFY(!Preferences::value(kUsernameKey).isValid());
        QCOMPARE(account.email(), std::nullopt);
    }

    void theKeyIsKnownFromTheStoreAtConstruction()
    {
        QVERIFY(!DravlinAccount().hasOpenRouterKey());
        QVERIFY(Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("or-key")));
        DravlinAccount account;
        QVERIFY(account.hasOpenRouterKey());
        QCOMPARE(account.openRouterKey(), QStringLiteral("or-key"));
        QVERIFY(!account.signedIn());
    }

    // ---- the balance ----

    void creditsAreReadFromAnyJsonNumber_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<double>("credits");
        QTest::newRow("integer") << QByteArray(R"({"credits": 42})") << 42.0;
        QTest::newRow("fraction") << QByteArray(R"({"credits": 12.75})") << 12.75;
        QTest::newRow("exponent") << QByteArray(R"({"credits": 2.5e3})") << 2500.0;
        QTest::newRow("zero") << QByteArray(R"({"credits": 0})") << 0.0;
        QTest::newRow("negative") << QByteArray(R"({"credits": -1.5})") << -1.5;
    }
    void creditsAreReadFromAnyJsonNumber()
    {
        QFETCH(QByteArray, body);
        QFETCH(double, credits);
        Service service;
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        service.answerMe(body);
        QSignalSpy changed(&account, &DravlinAccount::creditsChanged);
        QVERIFY(refresh(account));
        QCOMPARE(account.credits(), std::optional<double>(credits));
        QVERIFY(account.hasCredits());
        QCOMPARE(account.property("credits").toDouble(), credits);
        QCOMPARE(changed.size(), 1);
    }

    void aReplyWithoutUsableCreditsClearsThePreviousBalance_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("absent") << QByteArray(R"({"username": "ada"})");
        QTest::newRow("empty object") << QByteArray("{}");
        QTest::newRow("text") << QByteArray(R"({"credits": "5"})");
        QTest::newRow("null") << QByteArray(R"({"credits": null})");
        QTest::newRow("boolean") << QByteArray(R"({"credits": true})");
        QTest::newRow("object") << QByteArray(R"({"credits": {"amount": 5}})");
    }
    void aReplyWithoutUsableCreditsClearsThePreviousBalance()
    {
        QFETCH(QByteArray, body);
        Service service;
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        signInWithBalance(service, account);
        service.answerMe(body);
        QSignalSpy changed(&account, &DravlinAccount::creditsChanged);
        QVERIFY(refresh(account));
        QCOMPARE(account.credits(), std::nullopt);
        QVERIFY(!account.hasCredits());
        QVERIFY(!account.property("credits").isValid());
        QCOMPARE(changed.size(), 1);
    }

    void aShownNameIsNeverReplacedByTheReply()
    {
        Service service;
        storeToken(QStringLiteral("tok"));
        Preferences::setValue(kUsernameKey, QStringLiteral("ada"));
        DravlinAccount account;
        service.answerMe(R"({"credits": 1, "username": "bob"})");
        QSignalSpy usernameChanged(&account, &DravlinAccount::usernameChanged);
        QVERIFY(refresh(account));
        QCOMPARE(account.username(), std::optional<QString>("ada"));
        QCOMPARE(account.credits(), std::optional<double>(1));
        QVERIFY(usernameChanged.isEmpty());
        QCOMPARE(Preferences::value(kUsernameKey).toString(), QStringLiteral("ada"));
    }

    void aNameFilledInByOneReplyStaysThroughTheNext()
    {
        Service service;
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        signInWithBalance(service, account);
        service.answerMe(R"({"credits": 2, "username": "bob"})");
        QVERIFY(refresh(account));
        QCOMPARE(account.username(), std::optional<QString>("ada"));
    }

    void aNameThatIsNotTextIsIgnored()
    {
        Service service;
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        service.answerMe(R"({"credits": 1, "username": 7})");
        QVERIFY(refresh(account));
        QCOMPARE(account.username(), std::nullopt);
        QCOMPARE(account.credits(), std::optional<double>(1));
    }

    void anErrorStatusWithAnObjectBodyIsStillUsed_data()
    {
        QTest::addColumn<int>("status");
        for (int status : {400, 401, 402, 403, 404, 429, 500, 503})
            QTest::addRow("%d", status) << status;
    }
    void anErrorStatusWithAnObjectBodyIsStillUsed()
    {
        QFETCH(int, status);
        Service service;
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        service.answerMe(R"({"credits": 3, "username": "ada", "error": "whatever"})", status);
        QVERIFY(refresh(account));
        QCOMPARE(account.credits(), std::optional<double>(3));
        QCOMPARE(account.username(), std::optional<QString>("ada"));
    }

    void unusableRepliesChangeNothing_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::newRow("not JSON") << FakeResponse::json(200, "<html>Welcome</html>");
        QTest::newRow("JSON array") << FakeResponse::json(200, R"([{"credits": 1, "username": "bob"}])");
        QTest::newRow("JSON text") << FakeResponse::json(200, R"("credits")");
        QTest::newRow("JSON null") << FakeResponse::json(200, "null");
        QTest::newRow("empty body") << FakeResponse::json(200, "");
        QTest::newRow("error page") << FakeResponse::json(502, "Bad gateway");
        QTest::newRow("two objects") << FakeResponse::json(200, R"({"credits": 1}{"credits": 2})");
        // The part that arrived is a whole object, but the answer was cut off: not an answer.
        QTest::newRow("connection lost mid-body") << FakeResponse(200, FakeResponse::Framing::ContentLength)
                                                         .write(R"({"credits": 1})")
                                                         .drop()
                                                         .write("     ");
    }
    void unusableRepliesChangeNothing()
    {
        QFETCH(FakeResponse, response);
        Service service;
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        signInWithBalance(service, account);
        service.answerMe(response);
        QSignalSpy credits(&account, &DravlinAccount::creditsChanged);
        QSignalSpy username(&account, &DravlinAccount::usernameChanged);
        QVERIFY(refresh(account));
        QCOMPARE(service.server.requests().size(), 2);
        QCOMPARE(account.credits(), std::optional<double>(7));
        QCOMPARE(account.username(), std::optional<QString>("ada"));
        QVERIFY(credits.isEmpty());
        QVERIFY(username.isEmpty());
    }

    void aRefusedConnectionChangesNothing()
    {
        auto service = std::make_unique<Service>();
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        signInWithBalance(*service, account);
        service.reset();
        pointServiceAt(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
        QSignalSpy credits(&account, &DravlinAccount::creditsChanged);
        QVERIFY(refresh(account));
        QCOMPARE(account.credits(), std::optional<double>(7));
        QVERIFY(credits.isEmpty());
    }

    void aStalledReplyIsGivenUpAfterItsIdleLimit_data()
    {
        QTest::addColumn<bool>("headersSent");
        QTest::newRow("no answer at all") << false;
        QTest::newRow("body stops halfway") << true;
    }
    void aStalledReplyIsGivenUpAfterItsIdleLimit()
    {
        QFETCH(bool, headersSent);
        Service service;
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        signInWithBalance(service, account);

        // Accepts connections (the system does, into the backlog) and never answers.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        if (headersSent)
            service.answerMe(stallingMidBody());
        else
            pointServiceAt(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));

        QCOMPARE(account.creditsTimeoutMs(), 15000);
        account.setCreditsTimeoutMs(300);
        QSignalSpy credits(&account, &DravlinAccount::creditsChanged);
        QSignalSpy disconnected(&service.server, &FakeHttpServer::clientDisconnected);
        QVERIFY(refresh(account));
        QCOMPARE(account.credits(), std::optional<double>(7));
        QVERIFY(credits.isEmpty());
        if (headersSent)
            QVERIFY(disconnected.size() == 1 || disconnected.wait());
    }

    void withoutATokenNoRequestIsSent()
    {
        Service service;
        service.answerMe(R"({"credits": 3, "username": "ada"})");
        DravlinAccount account;
        QSignalSpy done(&account, &DravlinAccount::creditsRefreshed);
        account.refreshCredits();
        // Even with nothing to do, the end is told later, never from inside the call.
        QVERIFY(done.isEmpty());
        QVERIFY(done.wait());
        QCOMPARE(done.size(), 1);
        QVERIFY(service.server.requests().isEmpty());
        QCOMPARE(account.credits(), std::nullopt);
        QCOMPARE(account.username(), std::nullopt);
    }

    void theRequestCarriesTheTokenStoredWhenItIsBuilt()
    {
        Service service;
        service.answerMe(R"({"credits": 1})");
        storeToken(QStringLiteral("first-token"));
        DravlinAccount account;
        QVERIFY(refresh(account));
        storeToken(QStringLiteral("second-token"));
        QVERIFY(refresh(account));

        const QList<RecordedRequest> requests = service.server.requests();
        QCOMPARE(requests.size(), 2);
        for (const RecordedRequest &request : requests) {
            QCOMPARE(request.method, QByteArray("GET"));
            QCOMPARE(request.path, kMePath);
            QCOMPARE(headerCount(request, "Authorization"), 1);
            QVERIFY(request.body.isEmpty());
            QVERIFY(request.header("Content-Type").isNull());
        }
        QCOMPARE(requests[0].header("Authorization"), QByteArray("Bearer first-token"));
        QCOMPARE(requests[1].header("Authorization"), QByteArray("Bearer second-token"));
    }

    void signingOutDuringARefreshDiscardsItsAnswer()
    {
        Service service;
        service.answerMe(FakeResponse(200, FakeResponse::Framing::ContentLength)
                             .header("Content-Type", "application/json")
                             .hold()
                             .write(R"({"credits": 5, "username": "ada"})"));
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        QSignalSpy received(&service.server, &FakeHttpServer::requestReceived);
        QSignalSpy done(&account, &DravlinAccount::creditsRefreshed);
        QSignalSpy disconnected(&service.server, &FakeHttpServer::clientDisconnected);
        account.refreshCredits();
        QVERIFY(received.wait());
        account.signOut();
        QCOMPARE(done.size(), 1);
        QVERIFY(disconnected.size() == 1 || disconnected.wait());
        service.server.release();
        QCoreApplication::processEvents();
        QCOMPARE(account.username(), std::nullopt);
        QCOMPARE(account.credits(), std::nullopt);
        QCOMPARE(done.size(), 1);
    }

    void deletingTheAccountMidRequestClosesTheConnection()
    {
        Service service;
        service.answerMe(stallingMidBody());
        storeToken(QStringLiteral("tok"));
        auto *account = new DravlinAccount;
        QSignalSpy received(&service.server, &FakeHttpServer::requestReceived);
        QSignalSpy disconnected(&service.server, &FakeHttpServer::clientDisconnected);
        account->refreshCredits();
        QVERIFY(received.wait());
        delete account;
        QVERIFY(disconnected.wait());
        service.server.release();
        QCoreApplication::processEvents();
    }

    void twoRefreshesInFlightBothEnd()
    {
        Service service;
        service.answerMe(R"({"credits": 4})");
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        QSignalSpy done(&account, &DravlinAccount::creditsRefreshed);
        account.refreshCredits();
        account.refreshCredits();
        while (done.size() < 2)
            QVERIFY(done.wait());
        QCOMPARE(account.credits(), std::optional<double>(4));
        QCOMPARE(service.server.requests().size(), 2);
    }

    // ---- the OpenRouter key ----

    void savingAKeyStoresItTrimmed()
    {
        DravlinAccount account;
        QSignalSpy changed(&account, &DravlinAccount::hasOpenRouterKeyChanged);
        account.saveOpenRouterKey(QStringLiteral(" k1 \n"));
        QCOMPARE(Keychain::get(Keychain::openRouterKeyItem), std::optional<QString>("k1"));
        QCOMPARE(account.openRouterKey(), QStringLiteral("k1"));
        QVERIFY(account.hasOpenRouterKey());
        QCOMPARE(changed.size(), 1);
    }

    void savingOnlyWhitespaceRemovesTheStoredKey_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("spaces") << QStringLiteral("    ");
        QTest::newRow("newlines and tabs") << QStringLiteral(" \n\t\r\n ");
        QTest::newRow("empty") << QString();
    }
    void savingOnlyWhitespaceRemovesTheStoredKey()
    {
        QFETCH(QString, text);
        QVERIFY(Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("old")));
        DravlinAccount account;
        QVERIFY(account.hasOpenRouterKey());
        account.saveOpenRouterKey(text);
        QCOMPARE(Keychain::get(Keychain::openRouterKeyItem), std::nullopt);
        QVERIFY(!m_store->items.contains(Keychain::openRouterKeyItem));
        QVERIFY(!account.hasOpenRouterKey());
        QCOMPARE(account.openRouterKey(), QString());
    }

    void aKeyTheStoreRefusesDoesNotLookSaved()
    {
        QVERIFY(Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("old")));
        DravlinAccount account;
        QVERIFY(account.hasOpenRouterKey());
        m_store->failWrites = true;
        QSignalSpy changed(&account, &DravlinAccount::hasOpenRouterKeyChanged);
        account.saveOpenRouterKey(QStringLiteral("new"));
        QVERIFY(!account.hasOpenRouterKey());
        QCOMPARE(changed.size(), 1);
        // Not the new key, and not the old one either.
        QCOMPARE(account.openRouterKey(), QString());
    }

    void removingTheKeyLeavesNone()
    {
        QVERIFY(Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("old")));
        DravlinAccount account;
        account.removeOpenRouterKey();
        QVERIFY(!account.hasOpenRouterKey());
        QCOMPARE(Keychain::get(Keychain::openRouterKeyItem), std::nullopt);
    }

    // ---- signing out ----

    void signingOutForgetsTheAccountAndKeepsTheRest()
    {
        Service service;
        storeToken(QStringLiteral("tok"));
        QVERIFY(Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("or-key")));
        Preferences::setValue(kUsernameKey, QStringLiteral("ada"));
        Preferences::setValue(kEmailKey, QStringLiteral("ada@example.com"));
        DravlinAccount account;
        service.answerMe(R"({"credits": 9})");
        QVERIFY(refresh(account));
        account.setAuthError(QStringLiteral("Sign-in failed."));

        QSignalSpy signedIn(&account, &DravlinAccount::signedInChanged);
        QSignalSpy username(&account, &DravlinAccount::usernameChanged);
        QSignalSpy email(&account, &DravlinAccount::emailChanged);
        QSignalSpy credits(&account, &DravlinAccount::creditsChanged);
        QSignalSpy key(&account, &DravlinAccount::hasOpenRouterKeyChanged);
        account.signOut();

        QVERIFY(!account.signedIn());
        QCOMPARE(account.username(), std::nullopt);
        QCOMPARE(account.email(), std::nullopt);
        QCOMPARE(signedIn.size(), 1);
        QCOMPARE(username.size(), 1);
        QCOMPARE(email.size(), 1);
        QCOMPARE(Keychain::get(Keychain::apiTokenItem), std::nullopt);
        QVERIFY(!Preferences::value(kUsernameKey).isValid());
        QVERIFY(!Preferences::value(kEmailKey).isValid());

        QCOMPARE(account.credits(), std::optional<double>(9));
        QVERIFY(account.hasOpenRouterKey());
        QCOMPARE(Keychain::get(Keychain::openRouterKeyItem), std::optional<QString>("or-key"));
        QCOMPARE(account.authError(), std::optional<QString>("Sign-in failed."));
        QVERIFY(credits.isEmpty());
        QVERIFY(key.isEmpty());

        QCoreApplication::processEvents();
        QCOMPARE(service.server.requests().size(), 1);
        QVERIFY(!DravlinAccount().signedIn());
    }

    // ---- where requests go ----

    void endpointsJoinWithExactlyOneSlash_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bare origin") << "https://x.test"
                                     << "api/v1/me"
                                     << "https://x.test/api/v1/me";
        QTest::newRow("origin with slash") << "https://x.test/"
                                           << "api/v1/me"
                                           << "https://x.test/api/v1/me";
        QTest::newRow("prefix") << "https://x.test/prefix"
                                << "api/v1/me"
                                << "https://x.test/prefix/api/v1/me";
        QTest::newRow("prefix with slash") << "https://x.test/prefix/"
                                           << "api/v1/me"
                                           << "https://x.test/prefix/api/v1/me";
        QTest::newRow("path with a leading slash") << "https://x.test/prefix/"
                                                   << "/oauth/mac"
                                                   << "https://x.test/prefix/oauth/mac";
        QTest::newRow("port and deeper prefix") << "http://127.0.0.1:8080/a/b"
                                                << "download/mac"
                                                << "http://127.0.0.1:8080/a/b/download/mac";
        QTest::newRow("query of the base dropped") << "https://x.test/p?q=1#top"
                                                   << "api/v1/me"
                                                   << "https://x.test/p/api/v1/me";
    }
    void endpointsJoinWithExactlyOneSlash()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(ServiceClient::endpoint(QUrl(base), path).toString(), expected);
    }

    void anOverrideWithAPathPrefixPrefixesEveryRequest_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::newRow("without trailing slash") << QStringLiteral("/prefix");
        QTest::newRow("with trailing slash") << QStringLiteral("/prefix/");
    }
    void anOverrideWithAPathPrefixPrefixesEveryRequest()
    {
        QFETCH(QString, prefix);
        Service service(prefix);
        service.server.route("GET", "/prefix/api/v1/me", FakeResponse::json(200, R"({"credits": 2})"));
        storeToken(QStringLiteral("tok"));
        DravlinAccount account;
        QVERIFY(refresh(account));
        QCOMPARE(service.server.requests().size(), 1);
        QCOMPARE(service.server.requests().first().path, QByteArray("/prefix/api/v1/me"));
        QCOMPARE(account.credits(), std::optional<double>(2));
    }

    void anInvalidOverrideIsIgnored_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("not a URL") << QStringLiteral("not a url");
        QTest::newRow("ftp") << QStringLiteral("ftp://x");
        QTest::newRow("relative path") << QStringLiteral("/relative");
        QTest::newRow("empty") << QString();
        QTest::newRow("no host") << QStringLiteral("http://");
        QTest::newRow("host missing, path given") << QStringLiteral("https:///api");
        QTest::newRow("host and port without scheme") << QStringLiteral("localhost:8080");
        QTest::newRow("file") << QStringLiteral("file:///tmp/service");
        QTest::newRow("space in host") << QStringLiteral("https://exa mple.test");
    }
    void anInvalidOverrideIsIgnored()
    {
        QFETCH(QString, value);
        pointServiceAt(value);
        QCOMPARE(ServiceClient::baseURL(), ServiceClient::defaultBaseURL());
        QCOMPARE(ServiceClient::endpoint(QStringLiteral("api/v1/me")).toString(),
                 ServiceClient::defaultBaseURL().toString() + QStringLiteral("/api/v1/me"));
        QCOMPARE(ServiceClient::defaultBaseURL().scheme(), QStringLiteral("https"));
    }

    void theBaseURLIsReadOnceForTheProcess()
    {
        pointServiceAt(QStringLiteral("http://127.0.0.1:1234"));
        QCOMPARE(ServiceClient::baseURL(), QUrl(QStringLiteral("http://127.0.0.1:1234")));
        Preferences::setValue(kBaseURLKey, QStringLiteral("http://127.0.0.1:5678"));
        QCOMPARE(ServiceClient::baseURL(), QUrl(QStringLiteral("http://127.0.0.1:1234")));
        ServiceClient::resetBaseURLForTesting();
        QCOMPARE(ServiceClient::baseURL(), QUrl(QStringLiteral("http://127.0.0.1:5678")));
    }

    // ---- how requests are made ----

    void theTokenIsSentOnlyWhereTheCallNeedsIt()
    {
        Service service;
        storeToken(QStringLiteral("tok"));
        QSignalSpy done(&service.server, &FakeHttpServer::responseDone);
        QObject owner;
        QVERIFY(JsonReplyJob::send(ServiceCalls::latestAppVersion, &owner));
        QVERIFY(JsonReplyJob::send(ServiceCalls::fetchFavorites, &owner));
        while (done.size() < 2)
            QVERIFY(done.wait());
        const QList<RecordedRequest> requests = service.server.requests();
        QCOMPARE(requests.size(), 2);
        for (const RecordedRequest &request : requests) {
            if (request.path == "/api/app_version")
                QCOMPARE(headerCount(request, "Authorization"), 0);
            else
                QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok"));
        }
    }

    void aCallNeedingATokenIsNotSentWithoutOne()
    {
        Service service;
        QObject owner;
        QCOMPARE(JsonReplyJob::send(ServiceCalls::publishDrawing, &owner, QJsonObject{{"svg", "<svg/>"}}),
                 nullptr);
        QCOMPARE(ServiceClient::request(QStringLiteral("api/v1/me"), ServiceClient::Auth::Required),
                 std::nullopt);
        QVERIFY(ServiceClient::request(QStringLiteral("api/app_version"), ServiceClient::Auth::None));
        QCoreApplication::processEvents();
        QVERIFY(service.server.requests().isEmpty());
        QVERIFY(owner.children().isEmpty());
    }

    void aJsonBodyGoesOutCompactWithItsContentType_data()
    {
        QTest::addColumn<int>("call");
        QTest::newRow("publish") << 0;
        QTest::newRow("save favourites") << 1;
    }
    void aJsonBodyGoesOutCompactWithItsContentType()
    {
        QFETCH(int, call);
        const ServiceCall &serviceCall =
            call == 0 ? ServiceCalls::publishDrawing : ServiceCalls::saveFavorites;
        Service service;
        service.server.setHandler([](const RecordedRequest &) {
            return FakeResponse::json(201, "{\"url\": \"https://x.test/d/1\"}");
        });
        storeToken(QStringLiteral("tok"));
        QObject owner;
        const QJsonObject body{{"prompt", "a fox"}, {"svg", "<svg width='10'/>"}, {"tags", QJsonArray{1, 2}}};
        JsonReplyJob *job = JsonReplyJob::send(serviceCall, &owner, body);
        QVERIFY(job);
        QSignalSpy finished(job, &JsonReplyJob::finished);
        QVERIFY(finished.wait());

        const RecordedRequest request = service.server.requests().value(0);
        QCOMPARE(request.method, QByteArray(serviceCall.method));
        QCOMPARE(request.path, "/" + QByteArray(serviceCall.path));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok"));
        const QByteArray compact = R"({"prompt":"a fox","svg":"<svg width='10'/>","tags":[1,2]})";
        QCOMPARE(request.body, compact);

        const auto reply = finished.first().first().value<JsonReply>();
        QVERIFY(reply.received);
        QCOMPARE(reply.httpStatus, 201);
        QCOMPARE(reply.object->value("url").toString(), QStringLiteral("https://x.test/d/1"));
    }

    void aJsonReplyTellsItsStatusAndWhetherItArrived_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<bool>("received");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("isObject");
        QTest::newRow("error object")
            << FakeResponse::json(500, R"({"error": "boom"})") << true << 500 << true;
        QTest::newRow("error page") << FakeResponse::json(404, "<h1>Not found</h1>") << true << 404 << false;
        QTest::newRow("cut off")
            << FakeResponse(200, FakeResponse::Framing::ContentLength).write(R"({"a": 1})").drop().write("  ")
            << false << 200 << false;
    }
    void aJsonReplyTellsItsStatusAndWhetherItArrived()
    {
        QFETCH(FakeResponse, response);
        QFETCH(bool, received);
        QFETCH(int, status);
        QFETCH(bool, isObject);
        Service service;
        service.server.route("GET", "/api/app_version", response);
        QObject owner;
        JsonReplyJob *job = JsonReplyJob::send(ServiceCalls::latestAppVersion, &owner);
        QSignalSpy finished(job, &JsonReplyJob::finished);
        QVERIFY(finished.wait());
        const auto reply = finished.first().first().value<JsonReply>();
        QCOMPARE(reply.received, received);
        QCOMPARE(reply.httpStatus, status);
        QCOMPARE(reply.object.has_value(), isObject);
    }

    void aRefusedConnectionIsNotAnAnswer()
    {
        pointServiceAt(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
        QObject owner;
        JsonReplyJob *job = JsonReplyJob::send(ServiceCalls::recommendedModels, &owner);
        QSignalSpy finished(job, &JsonReplyJob::finished);
        QVERIFY(finished.wait());
        const auto reply = finished.first().first().value<JsonReply>();
        QVERIFY(!reply.received);
        QCOMPARE(reply.httpStatus, 0);
    }

    void everyRequestSharesOneSessionOwnedByTheApplication()
    {
        QNetworkAccessManager *network = ServiceClient::network();
        QCOMPARE(network->parent(), QCoreApplication::instance());
        QCOMPARE(ServiceClient::network(), network);
    }

    // ---- the secret store wrapper ----

    void onlyValidUtf8ReadsAsAValue_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<std::optional<QString>>("read");
        QTest::newRow("plain") << QByteArray("sk-or-1") << std::optional<QString>("sk-or-1");
        QTest::newRow("non-ASCII") << QString("clé-🔑-ключ").toUtf8() << std::optional<QString>("clé-🔑-ключ");
        QTest::newRow("invalid byte") << QByteArray("ab\xff") << std::optional<QString>();
        QTest::newRow("cut-off sequence") << QByteArray("ab\xc3") << std::optional<QString>();
        QTest::newRow("overlong encoding") << QByteArray("\xc0\xaf") << std::optional<QString>();
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << std::optional<QString>();
    }
    void onlyValidUtf8ReadsAsAValue()
    {
        QFETCH(QByteArray, stored);
        QFETCH(std::optional<QString>, read);
        m_store->items.insert(Keychain::apiTokenItem, stored);
        QCOMPARE(Keychain::get(Keychain::apiTokenItem), read);
    }

    void anEmptyOrAbsentValueRemovesTheItem()
    {
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("t")));
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QString()));
        QVERIFY(!m_store->items.contains(Keychain::apiTokenItem));
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("t")));
        QVERIFY(Keychain::set(Keychain::apiTokenItem, std::nullopt));
        QVERIFY(!m_store->items.contains(Keychain::apiTokenItem));
    }

    void aFailedWriteLeavesNoValueBehind()
    {
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("old")));
        m_store->failWrites = true;
        QVERIFY(!Keychain::set(Keychain::apiTokenItem, QStringLiteral("new")));
        QCOMPARE(Keychain::get(Keychain::apiTokenItem), std::nullopt);
        DravlinAccount account;
        QVERIFY(!account.signedIn());
    }

    // ---- secrets stay out of the log ----

    void noSecretReachesTheLog()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("dravlin.*.debug=true"));
        s_logged.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
        {
            Service service;
            storeToken(QStringLiteral("secret-token-123"));
            DravlinAccount account;
            service.answerMe(R"({"credits": 1})", 401);
            QVERIFY(refresh(account));
            service.answerMe("<not json>", 500);
            QVERIFY(refresh(account));
            account.saveOpenRouterKey(QStringLiteral("secret-key-456"));
            m_store->failWrites = true;
            account.saveOpenRouterKey(QStringLiteral("secret-key-789"));
            account.signOut();
        }
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QString());
        for (const QString &message : std::as_const(s_logged)) {
            QVERIFY2(!message.contains(QStringLiteral("secret-")), qPrintable(message));
        }
    }

    void publishErrorsDescribeThemselves()
    {
        QCOMPARE(PublishError::notSignedIn().description(), QStringLiteral("Not signed in."));
        QCOMPARE(PublishError::server(QStringLiteral("Drawing too large.")).description(),
                 QStringLiteral("Drawing too large."));
        QCOMPARE(PublishError::server(QStringLiteral("x")).kind(), PublishError::Kind::Server);
        QVERIFY(PublishError::server(QStringLiteral("x")) != PublishError::server(QStringLiteral("y")));
    }
};

QTEST_GUILESS_MAIN(TestDravlinAccount)
#include "tst_dravlinaccount.moc"
