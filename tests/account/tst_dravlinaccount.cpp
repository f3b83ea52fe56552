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

#include <memory>

namespace {

const QString kUsernameKey = QStringLiteral("DravlinUsername");
const QString kEmailKey = QStringLiteral("DravlinEmail");
using OptText = std::optional<QString>;
using Framing = FakeResponse::Framing;

// Every token and key in this suite has "secret" in it, and no line logged may.
QStringList logged;
QtMessageHandler previousHandler = nullptr;

void pointServiceAt(const QString &base)
{
    Preferences::setValue(QStringLiteral("DravlinBaseURL"), base);
    ServiceClient::resetBaseURLForTesting();
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
    std::unique_ptr<FakeHttpServer> m_server; // the service every test talks to, below a path prefix

    // Answers the balance request with response and runs one refresh to its end.
    bool refresh(DravlinAccount &account, const FakeResponse &response)
    {
        m_server->route("GET", "/prefix/api/v1/me", response);
        QSignalSpy done(&account, &DravlinAccount::creditsRefreshed);
        account.refreshCredits();
        return done.isEmpty() && done.wait(10000); // told later, never from inside the call
    }

private slots:
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
        Preferences::remove(kUsernameKey);
        Preferences::remove(kEmailKey);
        m_server = std::make_unique<FakeHttpServer>();
        pointServiceAt(m_server->url().toString() + QStringLiteral("/prefix/"));
    }

    void signedOutNothingIsShownOrSent()
    {
        Preferences::setValue(kUsernameKey, QStringLiteral("ada"));
        DravlinAccount account;
        QVERIFY(!account.signedIn() && !account.username());
        QVERIFY(refresh(account, FakeResponse::json(200, R"({"credits": 3})")));
        QVERIFY(!account.credits() && m_server->requests().isEmpty());
    }

    // The balance follows any answer that is a whole JSON object, whatever its status; anything
    // else changes nothing. After the reply: "credits name", "-" for none.
    void theBalanceFollowsUsableReplies_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("after");
        const auto json = [](const QByteArray &body, int status = 200) {
            return FakeResponse::json(status, body);
        };
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
        // Status 0: nobody listens; 1: a server accepts the connection and never answers.
        QTest::newRow("connection refused") << FakeResponse(0) << "7 -";
        QTest::newRow("no answer at all") << FakeResponse(1) << "7 -";
    }
    void theBalanceFollowsUsableReplies()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QString, after);
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("secret-1")));
        DravlinAccount account;
        QVERIFY(refresh(account, FakeResponse::json(200, R"({"credits": 7})")));
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("secret-2")));
        QTcpServer silent; // its connections wait in the backlog, never answered
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        if (reply.status() < 2)
            pointServiceAt(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));
        if (reply.status() == 0)
            silent.close();
        account.setCreditsTimeoutMs(300);
        QVERIFY(refresh(account, reply));
        const QString credits = account.credits() ? QString::number(*account.credits()) : QStringLiteral("-");
        QCOMPARE(credits + ' ' + account.username().value_or("-"), after);
        QVERIFY(!Preferences::value(kUsernameKey).isValid()); // a name from a reply is for this window only
        // Below the base URL's path, each with the token stored when it was built.
        const QList<RecordedRequest> sent = m_server->requests();
        QCOMPARE(sent.first().path, QByteArray("/prefix/api/v1/me"));
        QCOMPARE(sent.first().header("Authorization"), QByteArray("Bearer secret-1"));
        QCOMPARE(sent.last().header("Authorization"),
                 QByteArray(reply.status() < 2 ? "Bearer secret-1" : "Bearer secret-2"));
    }

    // While the balance is being asked: a 401 ends the sign-in here too, unless the token was
    // replaced meanwhile (another window signed in); other statuses leave it. Signing out, signing
    // in anew or the account going closes the request: its answer would land on whoever is next.
    void whileTheBalanceIsAsked_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("after");
        QTest::newRow("401") << 401 << ""
                             << "expired";
        QTest::newRow("403") << 403 << ""
                             << "signed in";
        QTest::newRow("401 for a token replaced meanwhile") << 401 << "token replaced"
                                                            << "signed in";
        QTest::newRow("signed out") << 200 << "signed out"
                                    << "closed";
        QTest::newRow("signed in anew") << 200 << "signed in anew"
                                        << "closed";
        QTest::newRow("deleted") << 200 << "deleted"
                                 << "closed";
    }
    void whileTheBalanceIsAsked()
    {
        QFETCH(int, status);
        QFETCH(QString, meanwhile);
        QFETCH(QString, after);
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("secret-1")));
        Preferences::setValue(kUsernameKey, QStringLiteral("ada"));
        auto account = std::make_unique<DravlinAccount>();
        m_server->route("GET", "/prefix/api/v1/me",
                        FakeResponse(status, Framing::ContentLength).hold().write(R"({"credits": 5})"));
        m_server->route("POST", "/prefix/api/v1/auth/exchange",
                        FakeResponse::json(200, R"({"token":"secret-2"})"));
        QSignalSpy received(m_server.get(), &FakeHttpServer::requestReceived);
        QSignalSpy disconnected(m_server.get(), &FakeHttpServer::clientDisconnected);
        QSignalSpy done(account.get(), &DravlinAccount::creditsRefreshed);
        account->refreshCredits();
        QVERIFY(received.wait());
        if (meanwhile == QLatin1String("token replaced"))
            QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("secret-2")));
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
        QCOMPARE(Keychain::get(Keychain::apiTokenItem).has_value(), signedIn);
        QCOMPARE(account->username(), signedIn ? OptText("ada") : OptText());
        QCOMPARE(account->authError(),
                 signedIn ? OptText()
                          : OptText(QString::fromUtf16(u"Your sign-in has expired \u2014 sign in again.")));
    }

    // The key is kept trimmed, and the flag tells what the store really holds.
    void savingAKeyKeepsWhatTheStoreHolds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("failWrites");
        QTest::addColumn<OptText>("stored");
        QTest::newRow("trimmed") << " secret-k1 \n" << false << OptText("secret-k1");
        QTest::newRow("only spaces removes the key") << "    " << false << OptText();
        QTest::newRow("the store refuses") << "secret-new" << true << OptText();
    }
    void savingAKeyKeepsWhatTheStoreHolds()
    {
        QFETCH(QString, text);
        QFETCH(bool, failWrites);
        QFETCH(OptText, stored);
        QVERIFY(Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("secret-old")));
        DravlinAccount account;
        m_store->failWrites = failWrites;
        account.saveOpenRouterKey(text);
        QCOMPARE(Keychain::get(Keychain::openRouterKeyItem), stored);
        QCOMPARE(account.hasOpenRouterKey(), stored.has_value());
    }

    void signingOutForgetsTheAccountAndKeepsTheKeyAndBalance()
    {
        QVERIFY(Keychain::set(Keychain::apiTokenItem, QStringLiteral("secret-1")));
        QVERIFY(Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("secret-key")));
        Preferences::setValue(kUsernameKey, QStringLiteral("ada"));
        Preferences::setValue(kEmailKey, QStringLiteral("ada@example.com"));
        DravlinAccount account;
        QVERIFY(account.signedIn() && account.email());
        // A remembered name stays: a reply only fills one in when none is known.
        QVERIFY(refresh(account, FakeResponse::json(200, R"({"credits": 9, "username": "bob"})")));
        QCOMPARE(account.username(), OptText("ada"));
        account.signOut();
        QVERIFY(!account.signedIn() && !account.username() && !account.email());
        QCOMPARE(Keychain::get(Keychain::apiTokenItem), std::nullopt);
        QVERIFY(!Preferences::value(kUsernameKey).isValid() && !Preferences::value(kEmailKey).isValid());
        QCOMPARE(Keychain::get(Keychain::openRouterKeyItem), OptText("secret-key"));
        QVERIFY(account.hasOpenRouterKey());
        QCOMPARE(account.credits(), std::optional<double>(9));
    }
};

QTEST_GUILESS_MAIN(TestDravlinAccount)
#include "tst_dravlinaccount.moc"
