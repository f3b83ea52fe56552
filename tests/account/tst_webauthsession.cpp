#include "account/webauthsession.h"

#include "fakehttpserver.h"
#include "pageharness.h"
#include "testenvironment.h"

#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QPointer>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QWebEngineNavigationRequest>
#include <QtWebEngineQuick/QQuickWebEngineProfile>

#include <memory>

// Everything a session told, in order: "completed <address>", "cancelled" or "failed" (with a
// description, as there must be one).
class Outcomes : public QObject
{
    Q_OBJECT

public:
    explicit Outcomes(WebAuthSession *session)
    {
        const auto tell = [this](const QString &outcome) {
            log.append(outcome);
            emit told();
        };
        connect(session, &WebAuthSession::completed, this,
                [tell](const QUrl &url) { tell("completed " + url.toString(QUrl::FullyEncoded)); });
        connect(session, &WebAuthSession::cancelled, this, [tell] { tell("cancelled"); });
        connect(session, &WebAuthSession::failed, this, [tell](const QString &description) {
            tell(description.trimmed().isEmpty() ? "failed without a description" : "failed");
        });
    }

    // Returns once the session has told an outcome; false on a time-out.
    bool wait() { return !log.isEmpty() || QSignalSpy(this, &Outcomes::told).wait(30000); }

    QStringList log;

signals:
    void told();
};

// Stands in for the desktop: records every address that would have been handed to another program.
class DesktopUrls : public QObject
{
    Q_OBJECT

public:
    const QStringList schemes{QStringLiteral("dravlin-mac"), QStringLiteral("other-app"),
                              QStringLiteral("mailto")};
    QList<QUrl> opened;

    DesktopUrls()
    {
        for (const QString &scheme : schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~DesktopUrls() override
    {
        for (const QString &scheme : schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

// Tells when a frame inside the page (not the page itself) asks to go to the callback scheme.
class FrameCallbacks : public QObject
{
    Q_OBJECT

public:
    explicit FrameCallbacks(QObject *view)
    {
        connect(view, SIGNAL(navigationRequested(QWebEngineNavigationRequest *)), this,
                SLOT(record(QWebEngineNavigationRequest *)));
    }

public slots:
    void record(QWebEngineNavigationRequest *request)
    {
        if (!request->isMainFrame() && request->url().scheme() == QLatin1String("dravlin-mac"))
            emit requested();
    }

signals:
    void requested();
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

FakeResponse redirect(const QByteArray &location)
{
    return FakeResponse(302, FakeResponse::Framing::ContentLength).header("Location", location);
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

    QUrl signInUrl() const { return QUrl(m_server->url().toString() + QStringLiteral("/signin")); }

    // Where a run of the endings table starts: nowhere (status 0, nothing listens there), a redirect to
    // the callback (302) or a page of that status and html.
    QUrl startFor(int status, const QByteArray &html = "<h1>Sign in</h1>")
    {
        if (status == 0) {
            QTcpServer probe; // the port was free a moment ago
            probe.listen(QHostAddress::LocalHost);
            return QUrl(QStringLiteral("http://127.0.0.1:%1/signin").arg(probe.serverPort()));
        }
        m_server->route("GET", "/signin", status == 302 ? redirect(kCallback) : page(html, status));
        return signInUrl();
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

    static void endings_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char *name, int status, const QByteArray &html, const QString &outcome) {
            QTest::newRow(name) << status << html << outcome;
        };
        const QByteArray toCallback = "location.href = '" + kCallback + "'";
        // However the page goes to the callback, the address arrives as it was sent.
        row("server redirect", 302, {}, kCompleted);
        row("script", 200, "<script>" + toCallback + "</script>", kCompleted);
        row("link click", 200, "<a id=go href='" + kCallback + "'>Go</a><script>go.click()</script>",
            kCompleted);
        row("form submit", 200,
            "<form id=f action='dravlin-mac://auth'><input name=code value=first><input name=code "
            "value=second><input name=state value='x&amp;y'></form><script>f.submit()</script>",
            kCompleted);
        row("meta refresh", 200, "<meta http-equiv=refresh content='0;url=" + kCallback + "'>", kCompleted);
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

private slots:
    void init() { m_server = std::make_unique<FakeHttpServer>(); }
    void cleanup() { m_server.reset(); }

    void eachRunEndsInOneOutcome_data() { endings_data(); }
    void eachRunEndsInOneOutcome()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, html);
        QFETCH(QString, outcome);
        DesktopUrls desktop;
        const qsizetype windowsBefore = QGuiApplication::topLevelWindows().size();
        WebAuthSession session(startFor(status, html), kScheme);
        Outcomes outcomes(&session);
        session.start();
        QPointer<QQuickWindow> window = session.window();
        QVERIFY(session.isOpen() && window && window->isVisible());
        QCOMPARE(QGuiApplication::topLevelWindows().size(), windowsBefore + 1);
        QVERIFY(playTheUser(session, outcome));
        QVERIFY(outcomes.wait());
        QCoreApplication::sendPostedEvents(); // anything more would be told by now
        QCOMPARE(outcomes.log, QStringList{outcome});
        QVERIFY(!session.isOpen());
        QVERIFY(!window);
        QCOMPARE(QGuiApplication::topLevelWindows().size(), windowsBefore);
        QVERIFY(desktop.opened.isEmpty());
        for (const RecordedRequest &request : m_server->requests())
            QVERIFY2(!request.path.startsWith("/popup"), request.path.constData());
    }

    void aSessionMayBeDeletedFromItsOwnOutcome_data() { endings_data(); }
    void aSessionMayBeDeletedFromItsOwnOutcome()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, html);
        QFETCH(QString, outcome);
        auto *session = new WebAuthSession(startFor(status, html), kScheme);
        const auto remove = [session] {
            delete session;
        };
        connect(session, &WebAuthSession::completed, session, remove);
        connect(session, &WebAuthSession::cancelled, session, remove);
        connect(session, &WebAuthSession::failed, session, remove);
        QSignalSpy gone(session, &QObject::destroyed);
        session->start();
        QPointer<QQuickWindow> window = session->window();
        QVERIFY(playTheUser(*session, outcome));
        QVERIFY(gone.count() == 1 || gone.wait(30000));
        QVERIFY(!window);
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

    void aSecondSignInSendsTheCookiesOfTheFirst()
    {
        m_server->routeSequence("GET", "/signin",
                                {page("<script>location.href = '" + kCallback + "'</script>")
                                     .header("Set-Cookie", "session=s1; Max-Age=3600; Path=/"),
                                 redirect(kCallback)});
        for (int run = 0; run < 2; ++run) {
            WebAuthSession session(signInUrl(), kScheme);
            Outcomes outcomes(&session);
            session.start();
            QVERIFY(outcomes.wait());
            QCOMPARE(outcomes.log, QStringList{kCompleted});
        }
        QList<QByteArray> cookies;
        for (const RecordedRequest &request : m_server->requests()) {
            if (request.path == "/signin")
                cookies.append(request.header("Cookie"));
        }
        QCOMPARE(cookies, (QList<QByteArray>{QByteArray(), "session=s1"}));
        // On disk (under the test's own home), for the app's next run too.
        QQuickWebEngineProfile *profile = WebAuthSession::profile();
        QVERIFY(!profile->isOffTheRecord());
        QVERIFY(profile->persistentCookiesPolicy() != QQuickWebEngineProfile::NoPersistentCookies);
        QVERIFY(profile->persistentStoragePath().startsWith(QDir::homePath()));
    }

    void aFrameCannotEndTheSignIn()
    {
        const QByteArray toCallback = "location.href = '" + kCallback + "'";
        m_server->route("GET", "/frame", page("<script>" + toCallback + "</script>"));
        WebAuthSession session(startFor(200, "<iframe src='/frame'></iframe>"), kScheme);
        Outcomes outcomes(&session);
        session.start();
        FrameCallbacks frames(viewOf(session));
        QVERIFY(QSignalSpy(&frames, &FrameCallbacks::requested).wait(30000));
        QCoreApplication::sendPostedEvents(); // an outcome would be told by now
        QVERIFY(outcomes.log.isEmpty());
        QVERIFY(session.isOpen());
        // The page itself still can.
        QMetaObject::invokeMethod(viewOf(session), "runJavaScript",
                                  Q_ARG(QString, QString::fromLatin1(toCallback)));
        QVERIFY(outcomes.wait());
        QCOMPARE(outcomes.log, QStringList{kCompleted});
    }
};

QTEST_MAIN(TestWebAuthSession)
#include "tst_webauthsession.moc"
