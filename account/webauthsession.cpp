#include "account/webauthsession.h"

#include "account/serviceclient.h"
#include "base/logging.h"
#include "base/settings.h"

#include <QKeyEvent>

#include <QCoreApplication>

#include <QMetaObject>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QVariantMap>
#include <QtWebEngineCore/QWebEngineCookieStore>
#include <QtWebEngineCore/QWebEngineLoadingInfo>
#include <QtWebEngineCore/QWebEngineNavigationRequest>
#include <QtWebEngineQuick/QQuickWebEngineProfile>

namespace {

const char kSignInWindow[] = "qrc:/Dravlin/account/SignInWindow.qml";
const char kViewName[] = "signInView";

// Chromium's net::ERR_ABORTED: a navigation given up on purpose (one we refused, a download, a
// 204 answer), not a page that failed to load.
constexpr int kNetAborted = -3;

// Set by a sign-out that found no sign-in profile open: the next one starts by forgetting.

} // namespace

WebAuthSession::WebAuthSession(const QUrl &startUrl, const QString &callbackScheme, QObject *parent)
    : QObject(parent), m_startUrl(startUrl), m_callbackScheme(callbackScheme)
{}

WebAuthSession::~WebAuthSession()
{
    // An outcome still queued dies with this object: nothing is emitted from here on.
    m_open = false;
    closeWindow();
    // The windows must go before the engine that made them.
    delete m_closedWindow.data();
}

QQuickWindow *WebAuthSession::window() const
{
    return m_window;
}

void WebAuthSession::setParentWindow(QWindow *window)
{
    m_parentWindow = window;
}

QQuickWebEngineProfile *WebAuthSession::profile()
{
    QPointer<QQuickWebEngineProfile> &shared = existingProfile();
    if (!shared) {
        // Owned by the application object: it outlives every sign-in window, and Qt's own
        // shutdown of the web engine takes care of the profile's data on the way out.
        auto *created = new QQuickWebEngineProfile(QCoreApplication::instance());
        created->setStorageName(QStringLiteral("DravlinSignIn"));
        created->setOffTheRecord(false);
        created->setPersistentCookiesPolicy(QQuickWebEngineProfile::AllowPersistentCookies);
        shared = created;
        if (Settings::shared().forgetSignInSession())
            forgetWebSession();
    }
    return shared;
}

QPointer<QQuickWebEngineProfile> &WebAuthSession::existingProfile()
{
    static QPointer<QQuickWebEngineProfile> none;
    return none;
}

void WebAuthSession::forgetWebSession()
{
    QQuickWebEngineProfile *inUse = existingProfile();
    if (!inUse) {
        // Made only for a sign-in window; whenever that is, it starts by forgetting.
        Settings::shared().setForgetSignInSession(true);
        return;
    }
    inUse->cookieStore()->deleteAllCookies();
    Settings::shared().setForgetSignInSession(false);
}

void WebAuthSession::start()
{
    if (m_open)
        return;
    m_open = true;
    // The window of the run before, when this start() comes before that run's outcome has been
    // emitted; it is closed already and cut off from this session.
    delete m_closedWindow.data();

    if (!m_engine) {
        m_engine = std::make_unique<QQmlEngine>();
        m_engine->addImportPath(QStringLiteral("qrc:/"));
    }
    QQmlComponent component(m_engine.get(), QUrl(QString::fromLatin1(kSignInWindow)));
    // The profile is set at creation: a view can't change its profile once its page exists.
    std::unique_ptr<QObject> root(
        component.createWithInitialProperties({{QStringLiteral("profile"), QVariant::fromValue(profile())}}));
    auto *window = qobject_cast<QQuickWindow *>(root.get());
    QObject *view = window ? window->findChild<QObject *>(QLatin1String(kViewName)) : nullptr;
    if (!view) {
        qCWarning(lcAccount) << "the sign-in window could not be created:" << component.errors();
        finish(Outcome::Failed, {}, tr("Couldn't open the sign-in window."));
        return;
    }
    root.release();
    m_window = window;

    connect(view, SIGNAL(navigationRequested(QWebEngineNavigationRequest *)), this,
            SLOT(onNavigationRequested(QWebEngineNavigationRequest *)));
    connect(view, SIGNAL(loadingChanged(QWebEngineLoadingInfo)), this,
            SLOT(onLoadingChanged(QWebEngineLoadingInfo)));
    connect(window, &QWindow::visibleChanged, this, [this](bool visible) {
        if (!visible)
            finish(Outcome::Cancelled);
    });
    connect(window, &QObject::destroyed, this, [this] { finish(Outcome::Cancelled); });

    // Escape means the same as closing the window. Taken before the page sees the key: a web
    // view claims every key it is given.
    window->installEventFilter(this);
    if (m_parentWindow) {
        window->setTransientParent(m_parentWindow);
        const QRect frame(QPoint(), window->size());
        window->setPosition(m_parentWindow->geometry().center() - frame.center());
    }
    // Only now that every navigation is watched does the page start loading.
    view->setProperty("url", m_startUrl);
    window->show();
    window->requestActivate();
}

bool WebAuthSession::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        m_window->close();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool WebAuthSession::isCallback(const QUrl &url) const
{
    return !m_callbackScheme.isEmpty() && url.scheme().compare(m_callbackScheme, Qt::CaseInsensitive) == 0;
}

void WebAuthSession::onNavigationRequested(QWebEngineNavigationRequest *request)
{
    const QUrl url = request->url();
    if (!m_open) {
        // A closed window's page lives on until the window is deleted, and goes nowhere meanwhile.
        request->reject();
        return;
    }
    if (isCallback(url)) {
        // Never loaded: the address is the answer, not a page.
        request->reject();
        if (request->isMainFrame())
            finish(Outcome::Completed, url);
        return;
    }
    // The sign-in page stays on the web: anything else would hand the address to whatever
    // program the system keeps for that scheme.
    if (!isSignInPage(url))
        request->reject();
}

bool WebAuthSession::isSignInPage(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme == QLatin1String("http"))
        return ServiceClient::isLoopback(url);
    // What a page makes of itself, never a place of its own.
    return scheme == QLatin1String("about") || scheme == QLatin1String("blob") ||
           scheme == QLatin1String("data");
}

void WebAuthSession::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    if (!m_open || info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
        return;
    // A 4xx or 5xx answer is a page like any other: the user can read it and close the window.
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain || info.errorCode() == kNetAborted)
        return;
    // The engine's own code ("net::ERR_CONNECTION_REFUSED") for whoever reads a report.
    const QString code =
        info.errorString().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(info.errorString());
    QString description;
    switch (info.errorDomain()) {
    case QWebEngineLoadingInfo::ConnectionErrorDomain:
    case QWebEngineLoadingInfo::DnsErrorDomain:
        description =
            tr("Couldn't reach the Dravlin sign-in page%1. Check your internet connection.").arg(code);
        break;
    case QWebEngineLoadingInfo::CertificateErrorDomain:
        description = tr("The Dravlin sign-in page's security certificate isn't valid%1.").arg(code);
        break;
    default:
        description = tr("Couldn't load the Dravlin sign-in page%1.").arg(code);
        break;
    }
    finish(Outcome::Failed, {}, description);
}

void WebAuthSession::finish(Outcome outcome, const QUrl &callbackUrl, const QString &description)
{
    if (!m_open)
        return;
    m_open = false;
    closeWindow();
    // The window goes, and the outcome is told, from the event loop: this may run inside one of
    // the view's or the window's own calls, which must not lose their object under them. A handler
    // may then delete this session safely.
    QMetaObject::invokeMethod(
        this,
        [this, outcome, callbackUrl, description] {
            delete m_closedWindow.data();
            switch (outcome) {
            case Outcome::Completed:
                Q_EMIT completed(callbackUrl);
                break;
            case Outcome::Cancelled:
                Q_EMIT cancelled();
                break;
            case Outcome::Failed:
                Q_EMIT failed(description);
                break;
            }
        },
        Qt::QueuedConnection);
}

void WebAuthSession::closeWindow()
{
    QQuickWindow *window = m_window;
    m_window = nullptr;
    if (!window)
        return;
    m_closedWindow = window;
    disconnect(window, nullptr, this, nullptr);
    // Its navigations stay watched, to be refused.
    if (QObject *view = window->findChild<QObject *>(QLatin1String(kViewName)))
        disconnect(view, SIGNAL(loadingChanged(QWebEngineLoadingInfo)), this,
                   SLOT(onLoadingChanged(QWebEngineLoadingInfo)));
    if (window->isVisible())
        window->close();
}
