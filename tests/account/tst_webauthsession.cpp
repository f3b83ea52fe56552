#include "accessiblecontrols.h"
#include "account/dravlinaccount.h"
#include "account/keychain.h"
#include "account/webauthsession.h"
#include "fakehttpserver.h"
#include "pageharness.h"
#include "testenvironment.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QNetworkCookie>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <QtWebEngineCore/QWebEngineCookieStore>
#include <QtWebEngineQuick/QQuickWebEngineProfile>

#include <memory>

// Everything a session told, in order: "completed <address>", "cancelled" or "failed" (with a
// description, as there must be one), and "opened <address>" for any address that would have been
// handed to another program of the desktop.
class Outcomes : public QObject
{
    Q_OBJECT

public:
    const QStringList schemes{QStringLiteral("dravlin-mac"), QStringLiteral("other-app"),
                              QStringLiteral("mailto")};
    QStringList log;

    explicit Outcomes(WebAuthSession *session)
    {
        connect(session, &WebAuthSession::completed, this,
                [this](const QUrl &url) { log.append("completed " + url.toString(QUrl::FullyEncoded)); });
        connect(session, &WebAuthSession::cancelled, this, [this] { log.append("cancelled"); });
        connect(session, &WebAuthSession::failed, this, [this](const QString &description) {
            log.append(description.trimmed().isEmpty() ? "failed without a description" : "failed");
        });
        for (const QString &scheme : schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~Outcomes() override
    {
        for (const QString &scheme : schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

public Q_SLOTS:
    void open(const QUrl &url) { log.append("opened " + url.toString()); }
};

namespace {

const QString kScheme = QStringLiteral("Dravlin-Mac"); // pages send it in lower case
// Two codes and an escaped "&": any re-encoding or dropped item shows.
const QByteArray kCallback = "dravlin-mac://auth?code=first&code=second&state=x%26y";
const QByteArray kToCallback = "location.href = '" + kCallback + "'";
const QString kCompleted = "completed " + QString::fromLatin1(kCallback);

FakeResponse page(const QByteArray &html, int status = 200)
{
    return FakeResponse(status, FakeResponse::Framing::ContentLength)
        .header("Content-Type", "text/html; charset=utf-8")
        .write("<!doctype html><html><body>" + html + "</body></html>");
}

// Waits until the session's page has finished loading, whatever the answer was; false on a time-out.
bool waitForPage(const WebAuthSession &session)
{
    QObject *view = session.window() ? session.window()->findChild<QObject *>("signInView") : nullptr;
    QSignalSpy loading(view, SIGNAL(loadingChanged(QWebEngineLoadingInfo)));
    while (view && loading.wait(30000)) {
        if (!view->property("loading").toBool())
            return true;
    }
    return false;
}

// When the run is to be cancelled, the user reads the page (which ended nothing) and closes it.
bool playTheUser(WebAuthSession &session, const QString &outcome)
{
    if (outcome != QLatin1String("cancelled"))
        return true;
    if (!waitForPage(session) || !session.isOpen())
        return false;
    session.window()->close();
    return true;
}

} // namespace

class TestWebAuthSession : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_WEBENGINE_TEST_INIT_MAIN

private:
    std::unique_ptr<FakeHttpServer> m_server;

private Q_SLOTS:
    void init() { m_server = std::make_unique<FakeHttpServer>(); }
    void cleanup() { m_server.reset(); }

    // A run starts at a page of that status and html (status 0: where nothing listens).
    void eachRunEndsInOneOutcome_data()
    {
        columns<int, QByteArray, QString, bool>("status", "html", "outcome", "deleted");
        // Each run twice: the second time the session's own outcome handler deletes it.
        const auto row = [](const char *name, int status, const QByteArray &html, const QString &outcome) {
            for (bool deleted : {false, true})
                QTest::addRow("%s%s", name, deleted ? ", deleted" : "")
                    << status << html << outcome << deleted;
        };
        // Other schemes are refused (and never reach the desktop), the sign-in goes on, and the
        // address arrives as it was sent.
        row("other schemes first", 200,
            "<script>location.href = 'other-app://open?x=1';"
            "setTimeout(() => { location.href = 'mailto:someone@example.com'; }, 0);"
            "setTimeout(() => { " +
                kToCallback + " }, 50);</script>",
            kCompleted);
        // The page opens no window, by script or by link, and its dialogs are dismissed.
        row("popups and dialogs", 200,
            "<script>const opened = window.open('/popup', 'popup', 'width=300,height=300');"
            "const link = document.createElement('a'); link.href = '/popup-link'; link.target = '_blank';"
            "document.body.appendChild(link); link.click(); const answer = confirm('Continue?');"
            "setTimeout(() => { location.href = 'dravlin-mac://auth?popup=' + (opened ? 'opened' : 'none')"
            " + '&confirmed=' + answer; }, 50);</script>",
            QStringLiteral("completed dravlin-mac://auth?popup=none&confirmed=false"));
        // A frame inside the page asks for the callback first (and says so): only the page ends it.
        row("a frame, then the page", 200,
            "<iframe src='/frame'></iframe><script>onmessage = () => setTimeout(() => { "
            "location.href = 'dravlin-mac://auth?from=page' }, 200)</script>",
            QStringLiteral("completed dravlin-mac://auth?from=page"));
        row("closed by the user", 200, "<h1>Sign in</h1>", QStringLiteral("cancelled"));
        // A server's error page is a page like any other, not a failure.
        row("HTTP 500 page, closed", 500, "<h1>Oops</h1>", QStringLiteral("cancelled"));
        row("nothing listening", 0, {}, QStringLiteral("failed"));
    }
    void eachRunEndsInOneOutcome()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, html);
        QFETCH(QString, outcome);
        QFETCH(bool, deleted);
        m_server->route("GET", "/signin", page(html, status));
        m_server->route("GET", "/frame",
                        page("<script>" + kToCallback + "; parent.postMessage('tried', '*')</script>"));
        const qsizetype windowsBefore = QGuiApplication::topLevelWindows().size();
        QPointer<WebAuthSession> session = new WebAuthSession(
            status ? QUrl(m_server->url().toString() + "/signin") : QUrl("http://127.0.0.1:1/signin"),
            kScheme);
        const std::unique_ptr<WebAuthSession> owner(deleted ? nullptr : session.data());
        Outcomes outcomes(session);
        if (deleted) {
            connect(session, &WebAuthSession::completed, session, [session] { delete session.data(); });
            connect(session, &WebAuthSession::cancelled, session, [session] { delete session.data(); });
            connect(session, &WebAuthSession::failed, session, [session] { delete session.data(); });
        }
        session->start();
        QPointer<QQuickWindow> window = session->window();
        session->start(); // already open: nothing more
        QVERIFY(session->isOpen() && window && window->isVisible() && session->window() == window);
        QCOMPARE(QGuiApplication::topLevelWindows().size(), windowsBefore + 1);
        QVERIFY(playTheUser(*session, outcome));
        QTRY_VERIFY_WITH_TIMEOUT(!outcomes.log.isEmpty(), 30000);
        QCoreApplication::sendPostedEvents(); // anything more would be told by now
        QCOMPARE(outcomes.log, QStringList{outcome});
        QCOMPARE(session.isNull(), deleted);
        QVERIFY(deleted || !session->isOpen());
        QVERIFY(!window);
        QCOMPARE(QGuiApplication::topLevelWindows().size(), windowsBefore);
        for (const RecordedRequest &request : m_server->requests())
            QVERIFY2(!request.path.startsWith("/popup"), request.path.constData());
    }

    // Pages the sign-in window may show: https anywhere, plain http only on this machine.
    void whereTheSignInWindowGoes()
    {
        for (const char *allowed : {"https://dravlin.app/oauth/mac", "HTTPS://example.com",
                                    "http://127.0.0.1:8080/x", "http://localhost/x", "http://[::1]:9/",
                                    "http://127.8.0.1/", "about:blank", "data:text/html,hi"})
            QVERIFY2(WebAuthSession::isSignInPage(QUrl(allowed)), allowed);
        for (const char *refused :
             {"http://dravlin.app/oauth/mac", "http://192.168.1.4/", "http://localhost.evil.com/",
              "http://127.0.0.1.nip.io/", "file:///etc/passwd", "ftp://127.0.0.1/", "javascript:alert(1)",
              "other-app://open"})
            QVERIFY2(!WebAuthSession::isSignInPage(QUrl(refused)), refused);
    }

    // The account's sign-in: a new one clears the error shown and replaces one still open (which
    // reports nothing); its window stays above the window it was asked from; Escape or closing the
    // window is no error, an unreachable page is; and the account going mid-sign-in takes the
    // window with it.
    void theAccountsSignInWindow()
    {
        Keychain::useInMemoryStoreForTesting();
        m_server->setHandler(
            [](const RecordedRequest &) { return page("<form>Email <input name=e></form>"); });
        useService(m_server->url());
        auto account = std::make_unique<DravlinAccount>();
        account->setAuthError(QStringLiteral("an earlier failure"));
        QSignalSpy finished(account.get(), &DravlinAccount::signInFinished);
        account->signIn();
        QCOMPARE(account->authError(), std::nullopt);
        QPointer<WebAuthSession> first = account->signInSession();
        QPointer<QQuickWindow> firstWindow = first->window();
        QWindow asker;
        asker.setGeometry(100, 100, 900, 700);
        account->signIn(&asker);
        QTRY_VERIFY(!first && !firstWindow);
        QPointer<QQuickWindow> shown = account->signInSession()->window();
        QCOMPARE(shown->transientParent(), &asker);
        QVERIFY(waitForPage(*account->signInSession()));
        shown->requestActivate();
        QTRY_VERIFY(shown->isActive());
        QTest::keyClick(shown, Qt::Key_Escape);
        QVERIFY(!finished.isEmpty() || finished.wait(30000));
        QTRY_VERIFY(!shown);
        QCOMPARE(finished.size(), 1);
        QVERIFY(!account->authError() && !account->signedIn() && !Keychain::value(Keychain::apiTokenItem));

        useService(QUrl(QStringLiteral("http://127.0.0.1:1")));
        account->signIn();
        QVERIFY(finished.wait(30000));
        QVERIFY(account->authError() && !account->authError()->isEmpty());

        // While the page is on its way the window says so.
        useService(m_server->url());
        m_server->setHandler([](const RecordedRequest &) { return FakeResponse().hold(); });
        account->signIn(&asker);
        QQuickWindow *loading = account->signInSession()->window();
        QVERIFY(loading);
        auto *placeholder = loading->findChild<QQuickItem *>(QStringLiteral("signInLoading"));
        QVERIFY(placeholder);
        QTRY_VERIFY(placeholder->isVisible() && placeholder->width() > 0);
        QVERIFY(QTest::qWaitForWindowExposed(loading));
        screenshot(loading, QStringLiteral("sign-in-loading"));
        m_server->release();
        m_server->setHandler(
            [](const RecordedRequest &) { return page("<form>Email <input name=e></form>"); });

        account->signIn();
        QPointer<QQuickWindow> window = account->signInSession()->window();
        QVERIFY(window && waitForPage(*account->signInSession()));
        account.reset();
        QTRY_VERIFY(!window);
    }

    // Signing out ends the service's web session too: the sign-in window's cookies go.
    void signingOutForgetsTheWebSession()
    {
        Keychain::useInMemoryStoreForTesting();
        QWebEngineCookieStore *cookies = WebAuthSession::profile()->cookieStore();
        QSignalSpy added(cookies, &QWebEngineCookieStore::cookieAdded);
        QSignalSpy removed(cookies, &QWebEngineCookieStore::cookieRemoved);
        QNetworkCookie session("session", "abc");
        session.setDomain(QStringLiteral("dravlin.app"));
        session.setPath(QStringLiteral("/"));
        session.setExpirationDate(QDateTime::currentDateTime().addDays(1));
        cookies->setCookie(session, QUrl(QStringLiteral("https://dravlin.app/")));
        QVERIFY(added.wait());
        DravlinAccount account;
        account.signOut();
        QVERIFY(removed.wait());
        QCOMPARE(removed.first().first().value<QNetworkCookie>().name(), QByteArray("session"));
    }
};

QTEST_MAIN(TestWebAuthSession)
#include "tst_webauthsession.moc"
