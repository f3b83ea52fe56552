#include "account/dravlinaccount.h"
#include "account/webauthsession.h"

#include "modelsharness.h"
#include "pageharness.h"
#include "testenvironment.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QPointer>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineNavigationRequest>

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
                [this](const QUrl &url) { tell("completed " + url.toString(QUrl::FullyEncoded)); });
        connect(session, &WebAuthSession::cancelled, this, [this] { tell("cancelled"); });
        connect(session, &WebAuthSession::failed, this, [this](const QString &description) {
            tell(description.trimmed().isEmpty() ? "failed without a description" : "failed");
        });
        for (const QString &scheme : schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~Outcomes() override
    {
        for (const QString &scheme : schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    // Returns once the session has told an outcome; false on a time-out.
    bool wait() { return !log.isEmpty() || QSignalSpy(this, &Outcomes::told).wait(30000); }

    // frameTried() follows when a frame inside the view's page (not the page) asks for the callback.
    void watchFrames(QObject *view)
    {
        connect(view, SIGNAL(navigationRequested(QWebEngineNavigationRequest *)), this,
                SLOT(onNavigation(QWebEngineNavigationRequest *)));
    }

public slots:
    void open(const QUrl &url) { tell("opened " + url.toString()); }
    void onNavigation(QWebEngineNavigationRequest *request)
    {
        if (!request->isMainFrame() && request->url().scheme() == QLatin1String("dravlin-mac"))
            emit frameTried();
    }

signals:
    void told();
    void frameTried();

private:
    void tell(const QString &outcome)
    {
        log.append(outcome);
        emit told();
    }
};

namespace {

const QString kScheme = QStringLiteral("Dravlin-Mac"); // pages send it in lower case
// Two codes and an escaped "&": any re-encoding or dropped item shows.
const QByteArray kCallback = "dravlin-mac://auth?code=first&code=second&state=x%26y";
const QString kCompleted = "completed " + QString::fromLatin1(kCallback);

FakeResponse page(const QByteArray &html, int status = 200)
{
    return FakeResponse(status, FakeResponse::Framing::ContentLength)
        .header("Content-Type", "text/html; charset=utf-8")
        .write("<!doctype html><html><body>" + html + "</body></html>");
}

QObject *viewOf(const WebAuthSession &session)
{
    return session.window() ? session.window()->findChild<QObject *>(QStringLiteral("signInView")) : nullptr;
}

// Waits until the session's page has finished loading, whatever the answer was; false on a time-out.
bool waitForPage(const WebAuthSession &session)
{
    QObject *view = viewOf(session);
    QSignalSpy loading(view, SIGNAL(loadingChanged(QWebEngineLoadingInfo)));
    while (view && loading.wait(30000)) {
        if (!view->property("loading").toBool())
            return true;
    }
    return false;
}

} // namespace

class TestWebAuthSession : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_WEBENGINE_TEST_INIT_MAIN

private:
    std::unique_ptr<FakeHttpServer> m_server;

    // Where a run of the endings table starts: nowhere (status 0, nothing listens there), a redirect to
    // the callback (302) or a page of that status and html.
    QUrl startFor(int status, const QByteArray &html = "<h1>Sign in</h1>")
    {
        if (status == 0)
            return QUrl(QStringLiteral("http://127.0.0.1:1/signin"));
        m_server->route(
            "GET", "/signin",
            status == 302
                ? FakeResponse(302, FakeResponse::Framing::ContentLength).header("Location", kCallback)
                : page(html, status));
        return QUrl(m_server->url().toString() + QStringLiteral("/signin"));
    }

    // When the run is to be cancelled, the user reads the page (which ended nothing) and closes it.
    static bool playTheUser(WebAuthSession &session, const QString &outcome)
    {
        if (outcome != QLatin1String("cancelled"))
            return true;
        if (!waitForPage(session) || !session.isOpen())
            return false;
        session.window()->close();
        return true;
    }

private slots:
    void init() { m_server = std::make_unique<FakeHttpServer>(); }
    void cleanup() { m_server.reset(); }

    void eachRunEndsInOneOutcome_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<bool>("deleted");
        // Each run twice: the second time the session's own outcome handler deletes it.
        const auto row = [](const char *name, int status, const QByteArray &html, const QString &outcome) {
            for (bool deleted : {false, true})
                QTest::addRow("%s%s", name, deleted ? ", deleted" : "")
                    << status << html << outcome << deleted;
        };
        const QByteArray toCallback = "location.href = '" + kCallback + "'";
        // However the page goes to the callback, the address arrives as it was sent.
        row("server redirect", 302, {}, kCompleted);
        row("script", 200, "<script>" + toCallback + "</script>", kCompleted);
        row("form submit", 200,
            "<form id=f action='dravlin-mac://auth'><input name=code value=first><input name=code "
            "value=second><input name=state value='x&amp;y'></form><script>f.submit()</script>",
            kCompleted);
        // Other schemes are refused (and never reach the desktop), and the sign-in goes on.
        row("other schemes first", 200,
            "<script>location.href = 'other-app://open?x=1';"
            "setTimeout(() => { location.href = 'mailto:someone@example.com'; }, 0);"
            "setTimeout(() => { " +
                toCallback + " }, 50);</script>",
            kCompleted);
        // The page opens no window, by script or by link, and its dialogs are dismissed.
        row("popups and dialogs", 200,
            "<script>const opened = window.open('/popup', 'popup', 'width=300,height=300');"
            "const link = document.createElement('a'); link.href = '/popup-link'; link.target = '_blank';"
            "document.body.appendChild(link); link.click(); const answer = confirm('Continue?');"
            "setTimeout(() => { location.href = 'dravlin-mac://auth?popup=' + (opened ? 'opened' : 'none')"
            " + '&confirmed=' + answer; }, 50);</script>",
            QStringLiteral("completed dravlin-mac://auth?popup=none&confirmed=false"));
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
        const qsizetype windowsBefore = QGuiApplication::topLevelWindows().size();
        QPointer<WebAuthSession> session = new WebAuthSession(startFor(status, html), kScheme);
        const std::unique_ptr<WebAuthSession> owner(deleted ? nullptr : session.data());
        Outcomes outcomes(session);
        if (deleted) {
            const auto remove = [session] {
                delete session.data();
            };
            connect(session, &WebAuthSession::completed, session, remove);
            connect(session, &WebAuthSession::cancelled, session, remove);
            connect(session, &WebAuthSession::failed, session, remove);
        }
        session->start();
        QPointer<QQuickWindow> window = session->window();
        QVERIFY(session->isOpen() && window && window->isVisible());
        QCOMPARE(QGuiApplication::topLevelWindows().size(), windowsBefore + 1);
        QVERIFY(playTheUser(*session, outcome));
        QVERIFY(outcomes.wait());
        QCoreApplication::sendPostedEvents(); // anything more would be told by now
        QCOMPARE(outcomes.log, QStringList{outcome});
        QCOMPARE(session.isNull(), deleted);
        QVERIFY(deleted || !session->isOpen());
        QVERIFY(!window);
        QCOMPARE(QGuiApplication::topLevelWindows().size(), windowsBefore);
        for (const RecordedRequest &request : m_server->requests())
            QVERIFY2(!request.path.startsWith("/popup"), request.path.constData());
    }

    void startingAgainBeforeTheLastOutcomeThenDestroyingWhileOpen()
    {
        auto session = std::make_unique<WebAuthSession>(startFor(200), kScheme);
        Outcomes outcomes(session.get());
        session->start();
        QVERIFY(waitForPage(*session));
        QPointer<QQuickWindow> first = session->window();
        first->close();
        session->start(); // the first run's cancelled() is still queued
        QVERIFY(!first);
        QPointer<QQuickWindow> second = session->window();
        session->start(); // already open: nothing more
        QVERIFY(second && session->window() == second);
        QVERIFY(waitForPage(*session));
        QCOMPARE(outcomes.log, QStringList{"cancelled"});
        QVERIFY(session->isOpen() && second->isVisible());

        // Destroyed while open, it closes its window and tells nothing.
        session.reset();
        QVERIFY(!second);
        QCoreApplication::sendPostedEvents(); // anything still queued would be told by now
        QCOMPARE(outcomes.log, QStringList{"cancelled"});
    }

    void aFrameCannotEndTheSignIn()
    {
        const QByteArray toCallback = "location.href = '" + kCallback + "'";
        m_server->route("GET", "/frame", page("<script>" + toCallback + "</script>"));
        WebAuthSession session(startFor(200, "<iframe src='/frame'></iframe>"), kScheme);
        Outcomes outcomes(&session);
        session.start();
        outcomes.watchFrames(viewOf(session));
        QVERIFY(QSignalSpy(&outcomes, &Outcomes::frameTried).wait(30000));
        QCoreApplication::sendPostedEvents(); // an outcome would be told by now
        QVERIFY(outcomes.log.isEmpty());
        QVERIFY(session.isOpen());
        // The page itself still can.
        QMetaObject::invokeMethod(viewOf(session), "runJavaScript",
                                  Q_ARG(QString, QString::fromLatin1(toCallback)));
        QVERIFY(outcomes.wait());
        QCOMPARE(outcomes.log, QStringList{kCompleted});
    }

    // The account's sign-in: a new one clears the error shown and replaces one still open (which
    // reports nothing); closing the window is no error, an unreachable page is; and the account
    // going mid-sign-in takes the window with it.
    void theAccountsSignInWindow()
    {
        Keychain::useInMemoryStoreForTesting();
        m_server->setHandler(
            [](const RecordedRequest &) { return page("<form>Email <input name=e></form>"); });
        const auto serviceAt = [](const QUrl &base) {
            Preferences::setValue(QStringLiteral("DravlinBaseURL"), base.toString());
            ServiceClient::resetBaseURLForTesting();
        };
        serviceAt(m_server->url());
        auto account = std::make_unique<DravlinAccount>();
        account->setAuthError(QStringLiteral("an earlier failure"));
        QSignalSpy finished(account.get(), &DravlinAccount::signInFinished);
        account->signIn();
        QCOMPARE(account->authError(), std::nullopt);
        QPointer<WebAuthSession> first = account->signInSession();
        QPointer<QQuickWindow> firstWindow = first->window();
        account->signIn();
        QTRY_VERIFY(!first && !firstWindow);
        QVERIFY(playTheUser(*account->signInSession(), QStringLiteral("cancelled")));
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(account->authError(), std::nullopt);
        QVERIFY(!account->signedIn() && !Keychain::get(Keychain::apiTokenItem));

        serviceAt(QUrl(QStringLiteral("http://127.0.0.1:1")));
        account->signIn();
        QVERIFY(finished.wait(30000));
        QVERIFY(account->authError() && !account->authError()->isEmpty());

        serviceAt(m_server->url());
        account->signIn();
        QPointer<QQuickWindow> window = account->signInSession()->window();
        QVERIFY(window && waitForPage(*account->signInSession()));
        account.reset();
        QTRY_VERIFY(!window);
    }
};

QTEST_MAIN(TestWebAuthSession)
#include "tst_webauthsession.moc"
