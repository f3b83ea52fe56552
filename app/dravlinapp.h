#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QRect>
#include <QUrl>

#include <QtQml/qqmlregistration.h>
#include <functional>
#include <optional>

#include "app/updatealert.h"

class QQmlComponent;
class QQmlEngine;
class QJSEngine;

// What the user answers in one of the application's alerts: the index of the button chosen,
// handed to whoever asked; every button closes the alert.
class AlertAnswer : public QObject
{
    Q_OBJECT

public:
    AlertAnswer(std::function<void(int)> chosen, QObject *parent)
        : QObject(parent), m_chosen(std::move(chosen))
    {}
    Q_INVOKABLE void choose(int button);

Q_SIGNALS:
    void answered();

private:
    std::function<void(int)> m_chosen;
};

// The application shell: prepares the process, opens independent main windows (each with its own
// session and account), hands links of the app's scheme to the frontmost one, and runs the
// interactive update check, whose alert stands on its own, apart from any window.
class DravlinApp : public QObject
{
    Q_OBJECT

public:
    // Must run before the QGuiApplication exists: the web engine has to be set up first.
    static void prepareProcess();
    // The platform theme to ask Qt for, or empty for Qt's own choice: the desktop portal (for the
    // desktop's own file dialogs) when a desktop session with a session bus has one installed.
    static QByteArray platformThemeFor(const QByteArray &requested, const QByteArray &desktop,
                                       bool sessionBus, bool portalInstalled);

    explicit DravlinApp(QObject *parent = nullptr);
    ~DravlinApp() override;

    // The most recently made shell that still exists: the application's only one, in a test the
    // one it is making windows with.
    static DravlinApp *running();

    // Where a new window goes: offset from the frontmost window when there is one; else where the
    // last window closed, kept on a screen that still exists (moved on, and shrunk to fit); else
    // the standard size centred on the first screen.
    static QRect placeWindow(const std::optional<QRect> &frontmost, const std::optional<QRect> &lastClosed,
                             const QList<QRect> &screens, const QSize &standard);

    // Opens one more main window; nullptr when it could not be created.
    Q_INVOKABLE QQuickWindow *openWindow();
    // The open windows, the most recently active first.
    QList<QQuickWindow *> windows() const;

    // Starts the interactive update check; its alert opens when the answer is in.
    Q_INVOKABLE void checkForUpdates();
    // The same against a given running version (tests).
    void checkForUpdates(const QString &running);

    // The application's name and version, in an alert of its own.
    Q_INVOKABLE void showAbout();
    static UpdateAlert aboutAlert();
    // Raises every open window, the frontmost last so it stays in front.
    Q_INVOKABLE void bringAllToFront();

    static bool isOwnLink(const QUrl &url);

    // Quits, but asks first while a download runs: quitting stops it.
    Q_INVOKABLE void quit();
    // The question asked before quitting stops these downloads.
    static UpdateAlert quitQuestion(const QStringList &downloading);

    static bool updateCheckInWindowMenu();
    static QString version();

public Q_SLOTS:
    // A link of the app's own scheme, from the platform or another launch. Only "draw" links do
    // anything, in the frontmost window, and never start a download or a drawing by themselves.
    // The platform hands links over as file-open events, or, on some Qt versions of the Mac,
    // through QDesktopServices: the running shell is the scheme's handler there.
    void openURL(const QUrl &url);

Q_SIGNALS:
    // One of the application's alerts opened: an update check's answer or the question before
    // quitting (tests read and answer it).
    void alertShown(QObject *alert);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QQmlEngine *engine();
    void showAlert(const UpdateAlert &alert, std::function<void(int)> chosen);
    // Whether quitting now would stop a download the user has not agreed to stop; asks if so.
    bool askBeforeQuitting(std::function<void()> quit);

    QPointer<DravlinApp> m_before;
    QQmlComponent *m_windowComponent = nullptr;
    QList<QPointer<QQuickWindow>> m_windows;
    bool m_askingToQuit = false;
};

// What QML calls "DravlinApp". The engine keeps its singleton for its whole life, which is longer
// than a shell's in tests, so every call goes to the shell running now; a window loaded without
// one (a preview, a test of the window alone) gets a quiet shell of its own.
class DravlinAppHandle : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(DravlinApp)
    QML_SINGLETON

    // Off macOS there is no application menu, so the window's ⋯ menu carries the update check.
    Q_PROPERTY(bool updateCheckInWindowMenu READ updateCheckInWindowMenu CONSTANT)

public:
    using QObject::QObject;

    Q_INVOKABLE QQuickWindow *openWindow() { return shell()->openWindow(); }
    Q_INVOKABLE void checkForUpdates() { shell()->checkForUpdates(); }
    Q_INVOKABLE void showAbout() { shell()->showAbout(); }
    Q_INVOKABLE void bringAllToFront() { shell()->bringAllToFront(); }
    Q_INVOKABLE void quit() { shell()->quit(); }
    static bool updateCheckInWindowMenu() { return DravlinApp::updateCheckInWindowMenu(); }

private:
    DravlinApp *shell();

    QPointer<DravlinApp> m_quiet;
};
