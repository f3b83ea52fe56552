#include "account/dravlinaccount.h"
#include "account/webauthsession.h"
#include "modelsharness.h"
#include "pageharness.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickWindow>
#include <QTest>

// The whole sign-in through the real sign-in window: the service's page, its redirect to the
// app's callback, and the code exchange.
class TestSignIn : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_WEBENGINE_TEST_INIT_MAIN

private:
    FakeHttpServer *m_server = nullptr;

    DravlinAccount *freshAccount()
    {
        Keychain::useInMemoryStoreForTesting();
        Preferences::remove(QStringLiteral("DravlinUsername"));
        Preferences::remove(QStringLiteral("DravlinEmail"));
        Preferences::setValue(QStringLiteral("DravlinBaseURL"), m_server->url().toString());
        ServiceClient::resetBaseURLForTesting();
        return new DravlinAccount;
    }

private slots:
    void init() { m_server = new FakeHttpServer; }
    void cleanup()
    {
        delete m_server;
        m_server = nullptr;
    }

    void aPageThatRedirectsToTheAppSignsTheUserIn()
    {
        m_server->setHandler([](const RecordedRequest &request) {
            if (request.path.startsWith("/oauth/mac"))
                return FakeResponse(302, FakeResponse::Framing::ContentLength)
                    .header("Location", "dravlin-mac://auth?code=one-time&code=second");
            return FakeResponse(404, FakeResponse::Framing::ContentLength);
        });
        m_server->route(
            "POST", "/api/v1/auth/exchange",
            FakeResponse::json(200, R"({"token":"api-token-1","username":"ada","email":"ada@example.com"})"));
        std::unique_ptr<DravlinAccount> account(freshAccount());
        QSignalSpy finished(account.get(), &DravlinAccount::signInFinished);
        account->signIn();
        QVERIFY(account->signInSession());
        QVERIFY(finished.wait(30000));

        QVERIFY(account->signedIn());
        QCOMPARE(account->authError(), std::nullopt);
        QCOMPARE(account->username(), std::optional<QString>("ada"));
        QCOMPARE(Keychain::get(QStringLiteral("api_token")), std::optional<QString>("api-token-1"));
        const RecordedRequest page = m_server->requests().first();
        QCOMPARE(page.path, QByteArray("/oauth/mac?redirect_uri=dravlin-mac://auth"));
        const RecordedRequest exchange = m_server->requests().last();
        QCOMPARE(QJsonDocument::fromJson(exchange.body).object(), (QJsonObject{{"code", "one-time"}}));
    }

    void closingTheWindowIsNotAnError()
    {
        m_server->setHandler([](const RecordedRequest &) {
            return FakeResponse(200, FakeResponse::Framing::ContentLength)
                .header("Content-Type", "text/html")
                .write("<html><body><form>Email <input name=e></form></body></html>");
        });
        std::unique_ptr<DravlinAccount> account(freshAccount());
        account->setAuthError(QStringLiteral("an earlier failure"));
        QSignalSpy finished(account.get(), &DravlinAccount::signInFinished);
        account->signIn();
        QCOMPARE(account->authError(), std::nullopt); // cleared when the new attempt began
        QVERIFY(m_server->requests().size() > 0 ||
                QSignalSpy(m_server, &FakeHttpServer::requestReceived).wait(30000));
        QQuickWindow *window = account->signInSession()->window();
        QVERIFY(window);
        window->close();
        QVERIFY(finished.wait(30000));
        QCOMPARE(account->authError(), std::nullopt);
        QVERIFY(!account->signedIn());
        QCOMPARE(Keychain::get(QStringLiteral("api_token")), std::nullopt);
    }

    void anUnreachablePageIsShownAsTheError()
    {
        std::unique_ptr<DravlinAccount> account(freshAccount());
        Preferences::setValue(QStringLiteral("DravlinBaseURL"), QStringLiteral("http://127.0.0.1:1"));
        ServiceClient::resetBaseURLForTesting();
        QSignalSpy finished(account.get(), &DravlinAccount::signInFinished);
        account->signIn();
        QVERIFY(finished.wait(30000));
        QVERIFY(account->authError());
        QVERIFY(!account->authError()->isEmpty());
        QVERIFY(!account->signedIn());
    }

    void aSecondSignInReplacesTheFirst()
    {
        m_server->setHandler([](const RecordedRequest &) {
            return FakeResponse(200, FakeResponse::Framing::ContentLength)
                .header("Content-Type", "text/html")
                .write("<p>sign in</p>");
        });
        std::unique_ptr<DravlinAccount> account(freshAccount());
        QSignalSpy finished(account.get(), &DravlinAccount::signInFinished);
        account->signIn();
        QPointer<WebAuthSession> first = account->signInSession();
        QPointer<QQuickWindow> firstWindow = first->window();
        account->signIn();
        QVERIFY(account->signInSession() != first);
        QTRY_VERIFY(!first);
        QVERIFY(!firstWindow || !firstWindow->isVisible());
        // The replaced attempt reports nothing; the new one is the one that ends.
        account->signInSession()->window()->close();
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.size(), 1);
    }

    // Closing the app's window mid-sign-in takes the sign-in window with it.
    void destroyingTheAccountMidSignInIsSafe()
    {
        m_server->setHandler([](const RecordedRequest &) {
            return FakeResponse(200, FakeResponse::Framing::ContentLength)
                .header("Content-Type", "text/html")
                .write("<p>wait</p>");
        });
        DravlinAccount *account = freshAccount();
        account->signIn();
        QPointer<QQuickWindow> window = account->signInSession()->window();
        QVERIFY(window);
        QVERIFY(QSignalSpy(m_server, &FakeHttpServer::requestReceived).wait(30000));
        delete account;
        QCoreApplication::processEvents();
        QVERIFY(!window || !window->isVisible());
    }
};

QTEST_MAIN(TestSignIn)
#include "tst_signin.moc"
