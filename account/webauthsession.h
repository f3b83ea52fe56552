#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class QQmlEngine;
class QQuickWebEngineProfile;
class QQuickWindow;
class QWindow;
class QWebEngineLoadingInfo;
class QWebEngineNavigationRequest;

// Signs the user in to the Dravlin web service inside the app: the service's sign-in page opens in
// a window of its own, and the first address the page sends to the callback scheme
// ("dravlin-mac://auth?code=…") is handed back instead of being opened. What the address means is
// the caller's business.
//
// Every start() ends in exactly one of completed(), cancelled() or failed(), always from the event
// loop and never from inside start(), so a handler may delete the session. Destroying the session
// closes its window and emits nothing.
class WebAuthSession : public QObject
{
    Q_OBJECT

public:
    WebAuthSession(const QUrl &startUrl, const QString &callbackScheme, QObject *parent = nullptr);
    ~WebAuthSession() override;

    QUrl startUrl() const { return m_startUrl; }
    QString callbackScheme() const { return m_callbackScheme; }

    // The window the sign-in window belongs to (kept above it, centred on it), if any. Used by
    // the next start().
    void setParentWindow(QWindow *window);

    // Opens the window on the start page. Does nothing while the window is open.
    void start();
    // Whether a start() has not ended yet.
    bool isOpen() const { return m_open; }
    // The sign-in window while the session is open, else null.
    QQuickWindow *window() const;

    // The web profile every sign-in page uses, one for the whole process: its cookies live on disk
    // under the app's data location, so a second sign-in finds the service's session from the first
    // (even in a later run) and the user need not type their password again.
    static QQuickWebEngineProfile *profile();
    // Signing out ends the service's web session too: the sign-in window's cookies go, at once
    // when its profile is in use, else before the next sign-in window opens.
    static void forgetWebSession();

Q_SIGNALS:
    // The page navigated to the callback scheme; the address exactly as the page sent it. Only
    // the page itself counts: a frame inside it can't end the sign-in.
    void completed(const QUrl &callbackUrl);
    // The user closed the window first.
    void cancelled();
    // The sign-in page could not be loaded (no connection, unknown host and the like). An error
    // page from the server (a 4xx or 5xx answer) is not a failure: it is shown like any page.
    void failed(const QString &description);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private Q_SLOTS:
    // Connected by name: the view's type is not public C++ API.
    void onNavigationRequested(QWebEngineNavigationRequest *request);
    void onLoadingChanged(const QWebEngineLoadingInfo &info);

private:
    enum class Outcome { Completed, Cancelled, Failed };

    bool isCallback(const QUrl &url) const;
    static QPointer<QQuickWebEngineProfile> &existingProfile();

public:
    // Where the sign-in window may go: the web over https; plain http only on this machine (the
    // stand-in service), where nobody can read or change it on the way.
    static bool isSignInPage(const QUrl &url);

private:
    void finish(Outcome outcome, const QUrl &callbackUrl = {}, const QString &description = {});
    // Cuts the window off from this session and closes it; it is deleted later, as the closed one.
    void closeWindow();

    QUrl m_startUrl;
    QString m_callbackScheme;
    bool m_open = false;
    std::unique_ptr<QQmlEngine> m_engine;
    QPointer<QQuickWindow> m_window;       // while open
    QPointer<QQuickWindow> m_closedWindow; // from the end of a run until its outcome is emitted
    QPointer<QWindow> m_parentWindow;
};
