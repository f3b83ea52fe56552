#include "app/dravlinapp.h"

#include "app/macwindow.h"
#include "app/updatealert.h"
#include "base/logging.h"
#include "base/settings.h"
#include "canvas/canvascontroller.h"
#include "session/downloads.h"
#include "ui/contentcontroller.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QScreen>
#include <QTimer>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <algorithm>

namespace {
const QString kScheme = QStringLiteral("dravlin-mac");
DravlinApp *s_running = nullptr;
} // namespace

void DravlinApp::prepareProcess()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Dravlin"));
    QCoreApplication::setApplicationName(QStringLiteral("Dravlin"));
    QCoreApplication::setApplicationVersion(version());
    // The desktop file's name, so the window manager groups our windows under the menu's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("app.dravlin.Dravlin"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));
#ifndef Q_OS_MACOS
    // The desktop's own file chooser where there is one: through its portal, which GNOME, KDE and
    // most other desktops provide. Without a desktop (a bare X session) Qt's own dialog is used.
    QStringList serviceFolders;
    for (const QString &folder :
         qEnvironmentVariable("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"))
             .split(QLatin1Char(':'), Qt::SkipEmptyParts))
        serviceFolders << folder + QStringLiteral("/dbus-1/services");
    const QByteArray theme = platformThemeFor(
        qgetenv("QT_QPA_PLATFORMTHEME"), qgetenv("XDG_CURRENT_DESKTOP"),
        qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"),
        std::any_of(serviceFolders.cbegin(), serviceFolders.cend(), [](const QString &folder) {
            return QFileInfo::exists(folder + QStringLiteral("/org.freedesktop.portal.Desktop.service"));
        }));
    if (!theme.isEmpty())
        qputenv("QT_QPA_PLATFORMTHEME", theme);
#endif
    CanvasController::prepareEngine();
    QtWebEngineQuick::initialize();
}

QByteArray DravlinApp::platformThemeFor(const QByteArray &requested, const QByteArray &desktop,
                                        bool sessionBus, bool portalInstalled)
{
    // The user's own choice stands; a portal that cannot be reached would leave no dialog at all.
    if (!requested.isEmpty() || desktop.isEmpty() || !sessionBus || !portalInstalled)
        return {};
    return QByteArrayLiteral("xdgdesktopportal");
}

DravlinApp::DravlinApp(QObject *parent) : QObject(parent), m_before(s_running)
{
    s_running = this;
    // macOS delivers links of our scheme as file-open events, except Qt 6.8.1 and 6.8.2, which
    // hand them to the scheme's QDesktopServices handler and drop them when there is none.
    if (QCoreApplication *application = QCoreApplication::instance())
        application->installEventFilter(this);
    QDesktopServices::setUrlHandler(kScheme, this, "openURL");
}

DravlinApp::~DravlinApp()
{
    if (s_running == this)
        s_running = m_before;
    // Qt must not be left holding a handler that is going; the shell running now takes over.
    QDesktopServices::unsetUrlHandler(kScheme);
    if (s_running)
        QDesktopServices::setUrlHandler(kScheme, s_running, "openURL");
    for (const QPointer<QQuickWindow> &window : std::as_const(m_windows))
        delete window.data();
}

DravlinApp *DravlinApp::running()
{
    return s_running;
}

DravlinApp *DravlinAppHandle::shell()
{
    if (DravlinApp *running = DravlinApp::running())
        return running;
    if (!m_quiet) {
        m_quiet = new DravlinApp(this);
        // Quiet: a shell made later for real runs instead.
        s_running = nullptr;
    }
    return m_quiet;
}

QQmlEngine *DravlinApp::engine()
{
    // One engine for the whole process, never torn down: a web view's page can still call into
    // its engine after the view's window is gone, so the engine must outlive every window.
    static QQmlEngine *shared = [] {
        auto *created = new QQmlEngine;
        created->addImportPath(QStringLiteral("qrc:/"));
        return created;
    }();
    return shared;
}

QRect DravlinApp::placeWindow(const std::optional<QRect> &frontmost, const std::optional<QRect> &lastClosed,
                              const QList<QRect> &screens, const QSize &standard)
{
    static constexpr int kCascade = 28;
    if (screens.isEmpty())
        return QRect(QPoint(), standard);
    // The screen a rectangle is mostly on; the first one when it is on none.
    const auto screenOf = [&screens](const QRect &rect) {
        QRect best = screens.first();
        qint64 bestArea = 0;
        for (const QRect &screen : screens) {
            const QRect common = screen.intersected(rect);
            const qint64 area = qint64(common.width()) * common.height();
            if (area > bestArea) {
                best = screen;
                bestArea = area;
            }
        }
        return best;
    };
    // Moved, and shrunk if it must be, so that all of it is on that screen.
    const auto fitted = [](QRect rect, const QRect &screen) {
        rect.setSize(rect.size().boundedTo(screen.size()));
        rect.moveLeft(qBound(screen.left(), rect.left(), screen.right() - rect.width() + 1));
        rect.moveTop(qBound(screen.top(), rect.top(), screen.bottom() - rect.height() + 1));
        return rect;
    };
    if (frontmost) {
        const QRect screen = screenOf(*frontmost);
        QRect next = frontmost->translated(kCascade, kCascade);
        // Past the screen's edge the cascade starts again at its corner.
        if (next.right() > screen.right() || next.bottom() > screen.bottom())
            next.moveTopLeft(screen.topLeft() + QPoint(kCascade, kCascade));
        return fitted(next, screen);
    }
    if (lastClosed && lastClosed->isValid() && !lastClosed->isEmpty())
        return fitted(*lastClosed, screenOf(*lastClosed));
    const QRect screen = screens.first();
    QRect centred(QPoint(), standard.boundedTo(screen.size()));
    centred.moveCenter(screen.center());
    return centred;
}

QQuickWindow *DravlinApp::openWindow()
{
    if (!m_windowComponent)
        m_windowComponent =
            new QQmlComponent(engine(), QUrl(QStringLiteral("qrc:/Dravlin/ui/Main.qml")), this);
    QList<QRect> screens;
    const QList<QScreen *> all = QGuiApplication::screens();
    for (const QScreen *screen : all)
        screens << screen->availableGeometry();
    const QList<QQuickWindow *> open = windows();
    const std::optional<QRect> frontmost =
        open.isEmpty() ? std::nullopt : std::optional<QRect>(open.first()->geometry());
    const QRect lastClosed = Settings::shared().windowFrame();
    const QRect place =
        placeWindow(frontmost, lastClosed.isValid() ? std::optional<QRect>(lastClosed) : std::nullopt,
                    screens, QSize(1180, 760));
    auto *content = new ContentController;
    QQmlEngine::setObjectOwnership(content, QQmlEngine::CppOwnership);
    QObject *object = m_windowComponent->createWithInitialProperties({
        {QStringLiteral("x"), place.x()},
        {QStringLiteral("y"), place.y()},
        {QStringLiteral("width"), place.width()},
        {QStringLiteral("height"), place.height()},
        {QStringLiteral("content"), QVariant::fromValue(content)},
    });
    auto *window = qobject_cast<QQuickWindow *>(object);
    if (!window) {
        qCWarning(lcApp).noquote() << m_windowComponent->errorString();
        delete object;
        delete content;
        return nullptr;
    }
    // The window's state lives exactly as long as the window.
    content->setParent(window);
    QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
    extendContentUnderTitleBar(window);
    m_windows.prepend(window);
    // A closed window is gone for good: its drawing, its downloads' view and its web page with it.
    window->installEventFilter(this);
    connect(window, &QWindow::activeChanged, this, [this, window] {
        if (!window->isActive())
            return;
        m_windows.removeAll(window);
        m_windows.prepend(window);
    });
    connect(window, &QObject::destroyed, this, [this] { m_windows.removeAll(nullptr); });
    return window;
}

QList<QQuickWindow *> DravlinApp::windows() const
{
    QList<QQuickWindow *> open;
    for (const QPointer<QQuickWindow> &window : m_windows) {
        if (window)
            open.append(window);
    }
    return open;
}

bool DravlinApp::isOwnLink(const QUrl &url)
{
    return url.isValid() && url.scheme() == kScheme;
}

void DravlinApp::openURL(const QUrl &url)
{
    if (!isOwnLink(url))
        return;
    QList<QQuickWindow *> open = windows();
    if (open.isEmpty()) {
        if (!openWindow())
            return;
        open = windows();
    }
    QQuickWindow *front = open.first();
    front->requestActivate();
    if (auto *content = front->property("content").value<ContentController *>())
        content->receiveURL(url);
}

bool DravlinApp::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close) {
        if (auto *window = qobject_cast<QQuickWindow *>(watched)) {
            // The next window of a later launch comes back here.
            Settings::shared().setWindowFrame(window->geometry());
            // Closing the last window quits, and quitting stops the downloads.
            const QList<QQuickWindow *> open = windows();
            const bool last = open.size() == 1 && open.first() == window;
            if (last && askBeforeQuitting([window] { window->close(); })) {
                event->ignore();
                return true;
            }
            // A closed window is gone for good, its drawing and its web page with it. Looked at
            // once the close has been handled, in case the window chose to stay.
            QTimer::singleShot(0, window, [window] {
                if (!window->isVisible())
                    window->deleteLater();
            });
        }
    }
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance() &&
        askBeforeQuitting([] { QCoreApplication::quit(); })) {
        event->ignore();
        return true;
    }
    // A language installed after windows opened reaches the texts they already show.
    if (event->type() == QEvent::LanguageChange && watched == QCoreApplication::instance() &&
        !m_windows.isEmpty())
        engine()->retranslate();
    if (event->type() == QEvent::FileOpen && watched == QCoreApplication::instance()) {
        const QUrl url = static_cast<QFileOpenEvent *>(event)->url();
        if (isOwnLink(url)) {
            openURL(url);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void DravlinApp::checkForUpdates()
{
    checkForUpdates(AppUpdater::current());
}

void DravlinApp::checkForUpdates(const QString &running)
{
    AppUpdater::check(running, this, [this, running](const UpdateCheck &check) {
        const UpdateAlert alert = AppUpdater::alertFor(check, running);
        showAlert(alert, [download = alert.download](int button) {
            if (button == 0 && !download.isEmpty())
                ContentController::openWebAddress(download);
        });
    });
}

void DravlinApp::showAbout()
{
    showAlert(aboutAlert(), nullptr);
}

UpdateAlert DravlinApp::aboutAlert()
{
    UpdateAlert about;
    about.message = QStringLiteral("Dravlin");
    about.informative = tr("Version %1\nA language model draws your picture live.").arg(version());
    about.buttons = {tr("OK")};
    return about;
}

void DravlinApp::bringAllToFront()
{
    const QList<QQuickWindow *> open = windows();
    for (auto window = open.crbegin(); window != open.crend(); ++window)
        (*window)->raise();
    if (!open.isEmpty())
        open.first()->requestActivate();
}

void DravlinApp::quit()
{
    if (!askBeforeQuitting([] { QCoreApplication::quit(); }))
        QCoreApplication::quit();
}

UpdateAlert DravlinApp::quitQuestion(const QStringList &downloading)
{
    UpdateAlert question;
    question.message = tr("Quit and stop the download?");
    if (downloading.size() == 1) {
        question.informative =
            tr("%1 is still downloading. Quitting stops the download.").arg(downloading.first());
    } else {
        QStringList names = downloading;
        const QString last = names.takeLast();
        //: %1 lists all but the last download, separated by commas; %2 is the last one.
        question.informative = tr("%1 and %2 are still downloading. Quitting stops the downloads.")
                                   .arg(names.join(QStringLiteral(", ")), last);
    }
    question.buttons = {tr("Quit"), tr("Cancel")};
    return question;
}

bool DravlinApp::askBeforeQuitting(std::function<void()> quit)
{
    Downloads *downloads = Downloads::shared();
    if (downloads->isEmpty())
        return false;
    // One question at a time; a second request to quit while it is open waits for its answer.
    if (m_askingToQuit)
        return true;
    m_askingToQuit = true;
    showAlert(quitQuestion(downloads->names()), [this, downloads, quit = std::move(quit)](int button) {
        m_askingToQuit = false;
        if (button != 0)
            return;
        // Stopped first, so the quit that follows has nothing left to ask about.
        downloads->stopAll();
        // Not from inside the alert's own handler: the alert is still closing.
        QTimer::singleShot(0, this, quit);
    });
    return true;
}

void DravlinApp::showAlert(const UpdateAlert &alert, std::function<void(int)> chosen)
{
    QQmlComponent component(engine(), QUrl(QStringLiteral("qrc:/Dravlin/ui/AlertWindow.qml")));
    auto *answer = new AlertAnswer(std::move(chosen), this);
    QObject *window = component.createWithInitialProperties({
        {QStringLiteral("message"), alert.message},
        {QStringLiteral("informative"), alert.informative},
        {QStringLiteral("buttons"), alert.buttons},
        {QStringLiteral("answer"), QVariant::fromValue(answer)},
    });
    if (!window) {
        qCWarning(lcApp).noquote() << component.errorString();
        delete answer;
        return;
    }
    QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
    window->setParent(answer);
    connect(answer, &AlertAnswer::answered, answer, &QObject::deleteLater);
    Q_EMIT alertShown(window);
}

void AlertAnswer::choose(int button)
{
    if (m_chosen)
        std::exchange(m_chosen, nullptr)(button);
    Q_EMIT answered();
}

bool DravlinApp::updateCheckInWindowMenu()
{
#ifdef Q_OS_MACOS
    return false;
#else
    return true;
#endif
}

QString DravlinApp::version()
{
    return QStringLiteral(DRAVLIN_VERSION);
}
