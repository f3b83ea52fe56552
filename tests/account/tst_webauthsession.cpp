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
#include <QUrlQuery>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNavigationRequest>
#include <QtWebEngineQuick/QQuickWebEngineProfile>

#include <memory>

// Everything one start() of a session ended with, in the order it came.
class Outcomes : public QObject
{
    Q_OBJECT

public:
    explicit Outcomes(WebAuthSession *session)
    {
        connect(session, &WebAuthSession::completed, this, [this](const QUrl &url) {
            completed.append(url);
            emit ended();
        });
        connect(session, &WebAuthSession::cancelled, this, [this] {
            ++cancelled;
            emit ended();
        });
        connect(session, &WebAuthSession::failed, this, [this](const QString &description) {
            failed.append(description);
            emit ended();
        });
    }

    int count() const { return int(completed.size()) + cancelled + int(failed.size()); }

    // Returns once the session has ended (or at once when it already has); false on a time-out.
    bool wait(int ms = 30000)
    {
        if (count() > 0)
            return true;
        QSignalSpy spy(this, &Outcomes::ended);
        return spy.wait(ms);
    }

    QList<QUrl> completed;
    int cancelled = 0;
    QStringList failed;

signals:
    void ended();
};

// Stands in for the desktop: records every address that would have been handed to another program.
class DesktopUrls : public QObject
{
    Q_OBJECT

public:
    explicit DesktopUrls(const QStringList &schemes) : m_schemes(schemes)
    {
        for (const QString &scheme : m_schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~DesktopUrls() override
    {
        for (const QString &scheme : m_schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }

private:
    QStringList m_schemes;
};

// Every navigation a view asked about, as far as the address and the frame go.
class NavigationLog : public QObject
{
    Q_OBJECT

public:
    explicit NavigationLog(QObject *view)
    {
        connect(view, SIGNAL(navigationRequested(QWebEngineNavigationRequest *)), this,
                SLOT(record(QWebEngineNavigationRequest *)));
    }

    QList<QPair<QUrl, bool>> seen; // address, main frame

public slots:
    void record(QWebEngineNavigationRequest *request)
    {
        seen.append({request->url(), request->isMainFrame()});
        emit recorded();
    }

signals:
    void recorded();
};

class TestWebAuthSession : public QObject
{
    Q_OBJECT

public:
    static void initMain()
    {
        isolateTestEnvironment();
        prepareWebEngineForTests();
    }

private slots:
    // --- Reaching the callback ----------------------------------------------------------------
    void aServerRedirectToTheCallbackCompletesWithExactlyThatAddress();
    void aScriptSettingTheLocationToTheCallbackCompletes();
    void aLinkClickedByScriptCompletes();
    void anAutoSubmittedFormCompletes();
    void aMetaRefreshToTheCallbackCompletes();
    void aCallbackWithTwoCodesArrivesUntouched();
    void theCallbackSchemeMatchesWhateverItsCase();
    void aPageSendingSeveralCallbacksCompletesOnce();
    void aFrameNavigatingToTheCallbackDoesNotComplete();
    void theCallbackNeverReachesTheDesktop();
    void otherSchemesAreRefusedAndSignInGoesOn();
    void eachSessionCapturesOnlyItsOwnWindowsCallback();

    // --- Ending otherwise ---------------------------------------------------------------------
    void closingTheWindowCancels();
    void closingTheWindowBeforeThePageHasLoadedCancels();
    void anUnreachableSignInPageFails_data();
    void anUnreachableSignInPageFails();
    void anHttpErrorPageIsShownAndCanStillBeClosed();

    // --- The web session ----------------------------------------------------------------------
    void aSecondSignInSendsTheCookiesOfTheFirst();
    void theProfileKeepsItsDataOnDisk();

    // --- Lifetime -----------------------------------------------------------------------------
    void destroyingTheSessionClosesItsWindowAndEmitsNothing();
    void aSessionMayBeDeletedFromItsOwnSignals();
    void aSessionCanBeStartedAgainAfterItEnded();
    void startingAgainBeforeTheLastOutcomeKeepsTheNewWindow();
    void theWindowBelongsToItsParentWindow();

    // --- An untrusted page --------------------------------------------------------------------
    void aPopupOpensNothing();
    void aPopupFromTheUsersClickOpensNothing();
    void javaScriptDialogsAreDismissed();
    void theWindowShowsThePageUnderItsTitle();
};

namespace {

const QByteArray kScheme = "dravlin-mac";

FakeResponse page(const QByteArray &html)
{
    return FakeResponse(200, FakeResponse::Framing::ContentLength)
        .header("Content-Type", "text/html; charset=utf-8")
        .write(html);
}

FakeResponse redirect(const QByteArray &location)
{
    return FakeResponse(302, FakeResponse::Framing::ContentLength).header("Location", location);
}

// A page that runs the script once it has loaded.
FakeResponse pageRunning(const QByteArray &script)
{
    return page("<!doctype html><html><body><p>Signing in…</p><script>" + script + "</script></body></html>");
}

QUrl at(const FakeHttpServer &server, const QString &path)
{
    return QUrl(server.url().toString() + path);
}

QObject *viewOf(const WebAuthSession &session)
{
    return session.window() ? session.window()->findChild<QObject *>(QStringLiteral("signInView")) : nullptr;
}

// Waits until the session's page has finished loading, whatever the answer was; false on a time-out.
bool waitForPage(const WebAuthSession &session)
{
    QObject *view = viewOf(session);
    if (!view)
        return false;
    QSignalSpy loading(view, SIGNAL(loadingChanged(QWebEngineLoadingInfo)));
    for (int round = 0; round < 20; ++round) {
        if (!loading.wait(30000))
            return false;
        // Not default-constructible, so not for QVariant::value().
        const QVariant argument = loading.last().first();
        if (argument.metaType() != QMetaType::fromType<QWebEngineLoadingInfo>())
            return false;
        const auto *info = static_cast<const QWebEngineLoadingInfo *>(argument.constData());
        if (info->status() != QWebEngineLoadingInfo::LoadStartedStatus)
            return true;
    }
    return false;
}

// An address on this machine where nothing listens (the port was free a moment ago).
QUrl unreachableUrl()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return {};
    return QUrl(QStringLiteral("http://127.0.0.1:%1/signin").arg(probe.serverPort()));
}

int requestsFor(const FakeHttpServer &server, const QByteArray &path)
{
    int count = 0;
    for (const RecordedRequest &request : server.requests()) {
        if (request.path == path)
            ++count;
    }
    return count;
}

} // namespace

void TestWebAuthSession::aServerRedirectToTheCallbackCompletesWithExactlyThatAddress()
{
    FakeHttpServer server;
    server.route("GET", "/oauth/mac", redirect("dravlin-mac://auth?code=abc123&state=x"));
    WebAuthSession session(at(server, QStringLiteral("/oauth/mac")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    QVERIFY(!session.isOpen());
    session.start();
    QVERIFY(session.isOpen());
    QPointer<QQuickWindow> window = session.window();
    QVERIFY(window);
    QVERIFY(window->isVisible());

    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=abc123&state=x"))});
    QCOMPARE(outcomes.completed.first().toString(QUrl::FullyEncoded),
             QStringLiteral("dravlin-mac://auth?code=abc123&state=x"));
    QVERIFY(!session.isOpen());
    QVERIFY(!session.window());
    QVERIFY(!window);
    QCOMPARE(outcomes.count(), 1);
    QCOMPARE(requestsFor(server, "/oauth/mac"), 1);
}

void TestWebAuthSession::aScriptSettingTheLocationToTheCallbackCompletes()
{
    FakeHttpServer server;
    server.route("GET", "/signin", pageRunning("location.href = 'dravlin-mac://auth?code=fromscript';"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=fromscript"))});
    QVERIFY(!session.isOpen());
}

void TestWebAuthSession::aLinkClickedByScriptCompletes()
{
    FakeHttpServer server;
    server.route("GET", "/signin",
                 page("<!doctype html><a id=go href='dravlin-mac://auth?code=fromlink'>Continue</a>"
                      "<script>document.getElementById('go').click()</script>"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=fromlink"))});
}

void TestWebAuthSession::anAutoSubmittedFormCompletes()
{
    FakeHttpServer server;
    server.route("GET", "/signin",
                 page("<!doctype html><form id=f method=get action='dravlin-mac://auth'>"
                      "<input name=code value=fromform><input name=state value=s></form>"
                      "<script>document.getElementById('f').submit()</script>"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed,
             QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=fromform&state=s"))});
}

void TestWebAuthSession::aMetaRefreshToTheCallbackCompletes()
{
    FakeHttpServer server;
    server.route(
        "GET", "/signin",
        page("<!doctype html><meta http-equiv=refresh content='0;url=dravlin-mac://auth?code=refreshed'>"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=refreshed"))});
}

void TestWebAuthSession::aCallbackWithTwoCodesArrivesUntouched()
{
    FakeHttpServer server;
    const QByteArray callback = "dravlin-mac://auth?code=first&code=second&note=a%20b%26c&empty=";
    server.route("GET", "/signin", redirect(callback));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed.size(), 1);
    const QUrl url = outcomes.completed.first();
    QCOMPARE(url.toString(QUrl::FullyEncoded).toLatin1(), callback);
    QCOMPARE(QUrlQuery(url).allQueryItemValues(QStringLiteral("code")),
             (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
}

void TestWebAuthSession::theCallbackSchemeMatchesWhateverItsCase()
{
    FakeHttpServer server;
    server.route("GET", "/signin", pageRunning("location.href = 'DRAVLIN-MAC://auth?code=Upper';"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QStringLiteral("Dravlin-Mac"));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed.size(), 1);
    QCOMPARE(outcomes.completed.first().scheme().toLower(), QStringLiteral("dravlin-mac"));
    QCOMPARE(outcomes.completed.first().query(), QStringLiteral("code=Upper"));
}

void TestWebAuthSession::aPageSendingSeveralCallbacksCompletesOnce()
{
    FakeHttpServer server;
    server.route("GET", "/signin",
                 pageRunning("location.href = 'dravlin-mac://auth?code=one';"
                             "location.href = 'dravlin-mac://auth?code=two';"
                             "setTimeout(() => { location.href = 'dravlin-mac://auth?code=three'; }, 0);"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(outcomes.wait());
    // Anything queued behind the first one would be delivered by now.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(outcomes.count(), 1);
    QCOMPARE(outcomes.completed.size(), 1);
    // Which of them gets through first is the engine's business (a navigation may replace the
    // one before it).
    const QStringList codes{QStringLiteral("code=one"), QStringLiteral("code=two"),
                            QStringLiteral("code=three")};
    QVERIFY(codes.contains(outcomes.completed.first().query()));
}

void TestWebAuthSession::aFrameNavigatingToTheCallbackDoesNotComplete()
{
    FakeHttpServer server;
    DesktopUrls desktop({QString::fromLatin1(kScheme)});
    server.route("GET", "/signin", page("<!doctype html><h1>Sign in</h1><iframe src='/frame'></iframe>"));
    server.route("GET", "/frame", pageRunning("location.href = 'dravlin-mac://auth?code=frame';"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QObject *view = viewOf(session);
    QVERIFY(view);
    NavigationLog log(view);
    const QPair<QUrl, bool> fromFrame{QUrl(QStringLiteral("dravlin-mac://auth?code=frame")), false};
    QSignalSpy recorded(&log, &NavigationLog::recorded);
    while (!log.seen.contains(fromFrame))
        QVERIFY(recorded.wait(30000));
    // An outcome would have been queued by now.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(outcomes.count(), 0);
    QVERIFY(session.isOpen());

    QMetaObject::invokeMethod(
        view, "runJavaScript",
        Q_ARG(QString, QStringLiteral("location.href = 'dravlin-mac://auth?code=main'")));
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=main"))});
    QCOMPARE(requestsFor(server, "/frame"), 1);
    QVERIFY(desktop.opened.isEmpty());
}

void TestWebAuthSession::theCallbackNeverReachesTheDesktop()
{
    FakeHttpServer server;
    DesktopUrls desktop({QString::fromLatin1(kScheme)});
    server.route("GET", "/signin", redirect("dravlin-mac://auth?code=private"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed.size(), 1);
    QVERIFY(desktop.opened.isEmpty());
}

void TestWebAuthSession::otherSchemesAreRefusedAndSignInGoesOn()
{
    FakeHttpServer server;
    DesktopUrls desktop({QStringLiteral("other-app"), QStringLiteral("mailto")});
    server.route("GET", "/signin",
                 pageRunning("location.href = 'other-app://open?x=1';"
                             "setTimeout(() => { location.href = 'mailto:someone@example.com'; }, 0);"
                             "setTimeout(() => { location.href = 'dravlin-mac://auth?code=after'; }, 50);"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=after"))});
    QVERIFY(desktop.opened.isEmpty());
}

void TestWebAuthSession::eachSessionCapturesOnlyItsOwnWindowsCallback()
{
    FakeHttpServer server;
    server.route("GET", "/a",
                 pageRunning("setTimeout(() => { location.href = 'dravlin-mac://auth?code=a'; }, 20);"));
    server.route("GET", "/b", pageRunning("location.href = 'dravlin-mac://auth?code=b';"));
    WebAuthSession first(at(server, QStringLiteral("/a")), QString::fromLatin1(kScheme));
    WebAuthSession second(at(server, QStringLiteral("/b")), QString::fromLatin1(kScheme));
    Outcomes firstOutcomes(&first);
    Outcomes secondOutcomes(&second);
    first.start();
    second.start();
    QVERIFY(firstOutcomes.wait());
    QVERIFY(secondOutcomes.wait());
    QCOMPARE(firstOutcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=a"))});
    QCOMPARE(secondOutcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=b"))});
}

void TestWebAuthSession::closingTheWindowCancels()
{
    FakeHttpServer server;
    server.route("GET", "/signin", page("<!doctype html><h1>Sign in</h1><form><input name=user></form>"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(waitForPage(session));
    QVERIFY(session.isOpen());
    QCOMPARE(outcomes.count(), 0);

    QPointer<QQuickWindow> window = session.window();
    window->close();
    QVERIFY(!session.isOpen());
    QVERIFY(outcomes.wait());
    QVERIFY(!window);
    QCOMPARE(outcomes.cancelled, 1);
    QCOMPARE(outcomes.count(), 1);
}

void TestWebAuthSession::closingTheWindowBeforeThePageHasLoadedCancels()
{
    FakeHttpServer server;
    server.route("GET", "/signin", page("<!doctype html><h1>Sign in</h1>").hold());
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    QSignalSpy asked(&server, &FakeHttpServer::requestReceived);
    session.start();
    QVERIFY(asked.wait(30000));
    QPointer<QQuickWindow> window = session.window();
    window->close();
    QVERIFY(outcomes.wait());
    QVERIFY(!window);
    server.release();
    QCOMPARE(outcomes.cancelled, 1);
    QCOMPARE(outcomes.count(), 1);
}

void TestWebAuthSession::anUnreachableSignInPageFails_data()
{
    QTest::addColumn<QUrl>("startUrl");
    QTest::newRow("nothing listening") << unreachableUrl();
    // The reserved top-level domain never resolves.
    QTest::newRow("unknown host") << QUrl(QStringLiteral("http://signin.dravlin.invalid/oauth/mac"));
}

void TestWebAuthSession::anUnreachableSignInPageFails()
{
    QFETCH(QUrl, startUrl);
    QVERIFY(startUrl.isValid());
    WebAuthSession session(startUrl, QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QPointer<QQuickWindow> window = session.window();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.failed.size(), 1);
    QVERIFY(!outcomes.failed.first().trimmed().isEmpty());
    QVERIFY(!session.isOpen());
    QVERIFY(!window);
    QCOMPARE(outcomes.count(), 1);
}

void TestWebAuthSession::anHttpErrorPageIsShownAndCanStillBeClosed()
{
    FakeHttpServer server;
    server.route("GET", "/signin",
                 FakeResponse(500, FakeResponse::Framing::ContentLength)
                     .header("Content-Type", "text/html")
                     .write("<!doctype html><h1>Something went wrong</h1>"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(waitForPage(session));
    QVERIFY(session.isOpen());
    QCOMPARE(outcomes.count(), 0);
    QCOMPARE(viewOf(session)->property("url").toUrl(), at(server, QStringLiteral("/signin")));

    QPointer<QQuickWindow> window = session.window();
    window->close();
    QVERIFY(outcomes.wait());
    QVERIFY(!window);
    QCOMPARE(outcomes.cancelled, 1);
    QCOMPARE(outcomes.count(), 1);
}

void TestWebAuthSession::aSecondSignInSendsTheCookiesOfTheFirst()
{
    FakeHttpServer server;
    server.route("GET", "/first",
                 pageRunning("location.href = 'dravlin-mac://auth?code=one';")
                     .header("Set-Cookie", "session=s1; Max-Age=3600; Path=/"));
    server.route("GET", "/second", redirect("dravlin-mac://auth?code=two"));
    {
        WebAuthSession first(at(server, QStringLiteral("/first")), QString::fromLatin1(kScheme));
        Outcomes outcomes(&first);
        first.start();
        QVERIFY(outcomes.wait());
        QCOMPARE(outcomes.completed.size(), 1);
    }
    QCOMPARE(requestsFor(server, "/first"), 1);
    for (const RecordedRequest &request : server.requests()) {
        if (request.path == "/first")
            QVERIFY(!request.header("Cookie").contains("session="));
    }

    WebAuthSession second(at(server, QStringLiteral("/second")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&second);
    second.start();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=two"))});
    QCOMPARE(requestsFor(server, "/second"), 1);
    for (const RecordedRequest &request : server.requests()) {
        if (request.path == "/second")
            QVERIFY2(request.header("Cookie").contains("session=s1"), request.header("Cookie").constData());
    }
}

void TestWebAuthSession::theProfileKeepsItsDataOnDisk()
{
    QQuickWebEngineProfile *profile = WebAuthSession::profile();
    QVERIFY(profile);
    QCOMPARE(WebAuthSession::profile(), profile);
    QVERIFY(!profile->isOffTheRecord());
    QCOMPARE(profile->storageName(), QStringLiteral("DravlinSignIn"));
    QVERIFY(profile->persistentCookiesPolicy() != QQuickWebEngineProfile::NoPersistentCookies);
    // Under the (test's own) home, never in a shared place.
    QVERIFY2(profile->persistentStoragePath().startsWith(QDir::homePath()),
             qPrintable(profile->persistentStoragePath()));
}

void TestWebAuthSession::destroyingTheSessionClosesItsWindowAndEmitsNothing()
{
    FakeHttpServer server;
    server.route("GET", "/signin", page("<!doctype html><h1>Sign in</h1>"));
    auto session =
        std::make_unique<WebAuthSession>(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(session.get());
    session->start();
    QVERIFY(waitForPage(*session));
    QPointer<QQuickWindow> window = session->window();
    QVERIFY(window && window->isVisible());

    session.reset();
    QVERIFY(!window);
    // Anything still queued would be delivered by now.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(outcomes.count(), 0);
}

void TestWebAuthSession::aSessionMayBeDeletedFromItsOwnSignals()
{
    FakeHttpServer server;
    server.route("GET", "/done", redirect("dravlin-mac://auth?code=bye"));
    server.route("GET", "/open", page("<!doctype html><h1>Sign in</h1>"));

    // From completed().
    auto *completing = new WebAuthSession(at(server, QStringLiteral("/done")), QString::fromLatin1(kScheme));
    QPointer<WebAuthSession> completingAlive = completing;
    connect(completing, &WebAuthSession::completed, completing, [completing] { delete completing; });
    QSignalSpy completedGone(completing, &QObject::destroyed);
    completing->start();
    QVERIFY(completedGone.wait(30000));
    QVERIFY(!completingAlive);

    // From cancelled(), the window closed by the user.
    auto *closing = new WebAuthSession(at(server, QStringLiteral("/open")), QString::fromLatin1(kScheme));
    connect(closing, &WebAuthSession::cancelled, closing, [closing] { delete closing; });
    QSignalSpy cancelledGone(closing, &QObject::destroyed);
    closing->start();
    QVERIFY(waitForPage(*closing));
    QPointer<QQuickWindow> window = closing->window();
    window->close();
    QVERIFY(cancelledGone.wait(30000));
    QVERIFY(!window);

    // From failed().
    const QUrl unreachable = unreachableUrl();
    QVERIFY(unreachable.isValid());
    auto *failing = new WebAuthSession(unreachable, QString::fromLatin1(kScheme));
    connect(failing, &WebAuthSession::failed, failing, [failing] { delete failing; });
    QSignalSpy failedGone(failing, &QObject::destroyed);
    failing->start();
    QVERIFY(failedGone.wait(30000));
}

void TestWebAuthSession::aSessionCanBeStartedAgainAfterItEnded()
{
    FakeHttpServer server;
    server.route("GET", "/signin", page("<!doctype html><h1>Sign in</h1>"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    session.start(); // already open: nothing more
    QVERIFY(waitForPage(session));
    session.window()->close();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.cancelled, 1);

    server.route("GET", "/signin", redirect("dravlin-mac://auth?code=again"));
    session.start();
    QVERIFY(session.isOpen());
    QSignalSpy ended(&outcomes, &Outcomes::ended);
    QVERIFY(ended.wait(30000));
    QCOMPARE(outcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?code=again"))});
    QCOMPARE(outcomes.count(), 2);
    QCOMPARE(requestsFor(server, "/signin"), 2);
}

void TestWebAuthSession::startingAgainBeforeTheLastOutcomeKeepsTheNewWindow()
{
    FakeHttpServer server;
    server.route("GET", "/signin", page("<!doctype html><h1>Sign in</h1>"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(waitForPage(session));
    QPointer<QQuickWindow> first = session.window();
    first->close();
    QCOMPARE(outcomes.count(), 0); // not told yet
    session.start();
    QVERIFY(!first);
    QPointer<QQuickWindow> second = session.window();
    QVERIFY(second);

    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.cancelled, 1);
    QVERIFY(session.isOpen());
    QCOMPARE(session.window(), second.data());
    QVERIFY(second && second->isVisible());
    QVERIFY(waitForPage(session));
    second->close();
    QSignalSpy ended(&outcomes, &Outcomes::ended);
    QVERIFY(ended.wait(30000));
    QCOMPARE(outcomes.cancelled, 2);
    QVERIFY(!second);
}

void TestWebAuthSession::theWindowBelongsToItsParentWindow()
{
    FakeHttpServer server;
    server.route("GET", "/signin", page("<!doctype html><h1>Sign in</h1>"));
    QWindow parent;
    parent.setGeometry(100, 100, 1000, 800);
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    session.setParentWindow(&parent);
    session.start();
    QCOMPARE(session.window()->transientParent(), &parent);
    QCOMPARE(session.window()->geometry().center(), parent.geometry().center());
}

void TestWebAuthSession::aPopupOpensNothing()
{
    FakeHttpServer server;
    server.route("GET", "/signin",
                 pageRunning("const opened = window.open('/popup', 'popup', 'width=300,height=300');"
                             "const link = document.createElement('a');"
                             "link.href = '/popup-link'; link.target = '_blank';"
                             "document.body.appendChild(link); link.click();"
                             "setTimeout(() => { location.href = 'dravlin-mac://auth?popup=' +"
                             " (opened ? 'opened' : 'blocked'); }, 50);"));
    const int windowsBefore = int(QGuiApplication::topLevelWindows().size());
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QCOMPARE(int(QGuiApplication::topLevelWindows().size()), windowsBefore + 1);
    QPointer<QQuickWindow> window = session.window();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed, QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?popup=blocked"))});
    QVERIFY(!window);
    QCOMPARE(int(QGuiApplication::topLevelWindows().size()), windowsBefore);
    QCOMPARE(requestsFor(server, "/popup"), 0);
    QCOMPARE(requestsFor(server, "/popup-link"), 0);
}

void TestWebAuthSession::aPopupFromTheUsersClickOpensNothing()
{
    FakeHttpServer server;
    // A link over the whole page that opens another window twice over: its own target, and a
    // script run by the click (which a click allows, unlike a script on its own).
    server.route(
        "GET", "/signin",
        page("<!doctype html><style>html, body, a { margin: 0; display: block; height: 100%; }</style>"
             "<a id=link href='/popup-link' target=_blank>Help</a><script>"
             "document.getElementById('link').addEventListener('click', () => {"
             " const opened = window.open('/popup-open', 'popup');"
             " setTimeout(() => { location.href = 'dravlin-mac://auth?clicked=' +"
             " (opened ? 'opened' : 'none'); }, 50); });</script>"));
    const int windowsBefore = int(QGuiApplication::topLevelWindows().size());
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QPointer<QQuickWindow> window = session.window();
    QVERIFY(waitForPage(session));
    // The first clicks may come before the page has been drawn and can take input at all.
    const QPoint middle(window->width() / 2, window->height() / 2);
    for (int attempt = 0; attempt < 20 && outcomes.count() == 0 && window; ++attempt) {
        QTest::mouseClick(window.data(), Qt::LeftButton, Qt::NoModifier, middle);
        outcomes.wait(1000);
    }
    QCOMPARE(outcomes.completed.size(), 1);
    QVERIFY(outcomes.completed.first().query() == QStringLiteral("clicked=none") ||
            outcomes.completed.first().query() == QStringLiteral("clicked=opened"));
    QVERIFY(!window);
    QCOMPARE(int(QGuiApplication::topLevelWindows().size()), windowsBefore);
    QCOMPARE(requestsFor(server, "/popup-open"), 0);
    QCOMPARE(requestsFor(server, "/popup-link"), 0);
}

void TestWebAuthSession::javaScriptDialogsAreDismissed()
{
    FakeHttpServer server;
    server.route(
        "GET", "/signin",
        pageRunning("alert('hello');"
                    "const answer = confirm('Continue?');"
                    "const typed = prompt('Name?', 'default');"
                    "location.href = 'dravlin-mac://auth?confirmed=' + answer + '&typed=' + typed;"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QVERIFY(outcomes.wait());
    QCOMPARE(outcomes.completed,
             QList<QUrl>{QUrl(QStringLiteral("dravlin-mac://auth?confirmed=false&typed=null"))});
}

void TestWebAuthSession::theWindowShowsThePageUnderItsTitle()
{
    FakeHttpServer server;
    server.route("GET", "/signin",
                 page("<!doctype html><html><head><title>Dravlin</title><style>"
                      "html, body { margin: 0; height: 100%; background: rgb(40, 90, 200);"
                      " font: 16px sans-serif; color: white; display: grid; place-items: center; }"
                      "</style></head><body><div><h2>Sign in to Dravlin</h2>"
                      "<p><input placeholder=Email></p><p><input type=password placeholder=Password></p>"
                      "<p><button>Continue</button></p></div></body></html>"));
    WebAuthSession session(at(server, QStringLiteral("/signin")), QString::fromLatin1(kScheme));
    Outcomes outcomes(&session);
    session.start();
    QQuickWindow *window = session.window();
    QCOMPARE(window->title(), QStringLiteral("Sign in to Dravlin"));
    QCOMPARE(window->size(), QSize(480, 640));
    QVERIFY(waitForPage(session));

    // The page's colour fills the middle of the window once a frame with it has been drawn.
    QSignalSpy frames(window, &QQuickWindow::frameSwapped);
    QImage image;
    const QColor pageColour(40, 90, 200);
    for (int frame = 0; frame < 50; ++frame) {
        image = window->grabWindow();
        if (image.pixelColor(image.width() / 2, image.height() - 40) == pageColour)
            break;
        window->requestUpdate();
        frames.wait(5000);
    }
    QCOMPARE(image.pixelColor(image.width() / 2, image.height() - 40), pageColour);
    // For a look by eye.
    if (qEnvironmentVariableIsSet("DRAVLIN_SIGNIN_SCREENSHOT"))
        image.save(qEnvironmentVariable("DRAVLIN_SIGNIN_SCREENSHOT"));
    // A frame around the page, not the page to the window's edge.
    QVERIFY(image.pixelColor(2, image.height() / 2) != pageColour);
    QCOMPARE(outcomes.count(), 0);
}

QTEST_MAIN(TestWebAuthSession)
#include "tst_webauthsession.moc"
