#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <optional>

// Drives the canvas page one way: three short script calls, fire-and-forget, in program order.
// The page may not have defined its functions yet (still loading); the guard in each command makes
// such a call a no-op, lost rather than queued.
class CanvasController : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by DrawSession")
    Q_PROPERTY(QUrl pageUrl READ pageUrl CONSTANT)
    // The page's process kept ending as soon as it was started again: the canvas has stopped
    // trying, and says so, until asked to try again.
    Q_PROPERTY(bool pageFailed READ pageFailed NOTIFY pageFailedChanged)
    // Whether the drawing's animations stand still. Until the user chooses, they do when the
    // system asks for reduced motion (the page knows; it is asked each time it has loaded).
    Q_PROPERTY(
        bool animationsPaused READ animationsPaused WRITE setAnimationsPaused NOTIFY animationsPausedChanged)

public:
    explicit CanvasController(QObject *parent = nullptr);

    // The view that shows the page: anything with an invokable runJavaScript(QString), such as
    // a WebEngineView. Held weakly; commands are dropped while there is none.
    Q_INVOKABLE void setWebView(QObject *view);
    QObject *webView() const { return m_webView; }

    // The canvas page shipped with the program (a local file), or an empty URL when it is missing.
    static QUrl pageUrl();

    // Sets the web engine's switches the page relies on. Must run before the engine starts.
    static void prepareEngine();

    // Where the page's console messages go: the log, in debug builds only.
    Q_INVOKABLE void logConsoleMessage(int level, const QString &message, int line, const QString &source);

    void resetCanvas();
    // Pieces that arrive faster than the screen refreshes go out together, one call per frame:
    // the page accepts the text split anywhere, so what it draws is the same, and the bridge to
    // the page, the narrowest point of the stream, carries far fewer calls. A piece after a quiet
    // spell goes out at once.
    void applyDelta(const QString &text);
    // Sends what is still held back first, so the page has every piece before the final text.
    void finish(const std::optional<QString> &svg);

    // The frame interval pieces are gathered over; 0 sends every piece as its own call.
    void setFrameIntervalMs(int ms);
    int frameIntervalMs() const { return m_frame.interval(); }

    // From the view: the page's render process has ended (crashed, was killed, or was ended for not
    // answering) and the page is loading again, empty. The rest of the run that brought it down is
    // not sent: its final drawing would only end the new page the same way. The next reset sends
    // again.
    // Returns how long to wait before loading the page again, or -1 when it is not to be loaded
    // again: a page whose process keeps ending (a broken helper, a missing permission) would
    // otherwise be reloaded forever.
    Q_INVOKABLE int reportRenderProcessEnded();
    // From the view: its page started loading, or finished (ok: it loaded). Until a page has
    // loaded, what the drawing sends waits, in order, and is sent when it has: a drawing started
    // while the canvas was still coming up is not lost.
    Q_INVOKABLE void reportPageLoading();
    Q_INVOKABLE void reportPageLoaded(bool ok);
    // The rule: the wait after the last of these ends (times in ms, oldest first). Ends more than
    // a minute before the last do not count; the first reload is at once, the next ones wait longer,
    // and a fourth end within the minute gives up.
    static int reloadDelayMs(const QList<qint64> &endedAtMs);
    bool pageFailed() const { return m_pageFailed; }
    bool animationsPaused() const { return m_pauseChoice.value_or(m_systemReducedMotion); }
    // The user's choice, which from then on wins over the system's.
    void setAnimationsPaused(bool paused);
    // What the system asks for, as the page reports it.
    void setSystemReducedMotion(bool reduced);

    // The user asks for the canvas again after it gave up.
    Q_INVOKABLE void retryPage();
    // Ends the page's render process, which has stopped answering: a page busy in one endless task
    // reads nothing sent to it any more, so only ending its process frees the canvas.
    Q_INVOKABLE void endRenderProcess(qint64 pid);

    // Asks the page a question after every command sent so far. The answer comes back on a later
    // turn of the event loop, and only while context lives; it is an invalid QVariant when there
    // is no page to answer.
    using QueryCallback = std::function<void(const QVariant &answer)>;
    void query(const QString &script, QObject *context, QueryCallback callback);
    // From the view: the answer to query number ticket.
    Q_INVOKABLE void deliverQueryResult(int ticket, const QVariant &answer);

    // The drawing as the canvas shows it, serialized: the sanitized tree, not the model's text.
    // Empty when nothing is drawn or no page answers.
    void requestDrawingSvg(QObject *context, std::function<void(const QString &svg)> done);

    struct PngOptions
    {
        double scale = 1; // of the drawing's own size
        int width = 0;    // in pixels; wins over scale when set
        bool whiteBackground = false;
    };
    // The drawing rendered by the page from that same tree. On failure png is empty and error says why.
    void requestDrawingPng(const PngOptions &options, QObject *context,
                           std::function<void(const QByteArray &png, const QString &error)> done);
    // How long a render may take before it counts as failed.
    void setPngTimeoutMs(int ms) { m_pngTimeoutMs = ms; }

    // The text as a complete JavaScript string literal (a JSON string, quotes included), so any
    // model text — quotes, backslashes, line breaks, "</script>" — is inert data in the command.
    static QString js(const QString &text);

Q_SIGNALS:
    // The page's render process ended; the page is empty.
    void renderProcessEnded();
    // It had a drawing on it, which was lost with it: too heavy to show.
    void drawingLost();
    void pageFailedChanged();
    void animationsPausedChanged();
    // The view should load the page again (after retryPage()).
    void reloadRequested();

private:
    void evaluate(const QString &script);
    void updatePause(bool wasPaused);
    void sendDelta(const QString &text);
    void flush();
    void failPendingQueries();
    void pollPng(int ticket, qint64 deadline, QObject *context,
                 std::function<void(const QByteArray &, const QString &)> done);

    struct PendingQuery
    {
        QPointer<QObject> context;
        QueryCallback callback;
    };
    QHash<int, PendingQuery> m_queries;
    int m_nextQuery = 1;
    int m_pngTimeoutMs = 20000;
    QPointer<QObject> m_webView;
    QTimer m_frame;
    QString m_pending;
    bool m_pageLost = false;
    bool m_pageReady = false;
    bool m_readyBeforeLoad = false;
    QStringList m_waiting;
    bool m_pageFailed = false;
    std::optional<bool> m_pauseChoice;
    bool m_systemReducedMotion = false;
    bool m_drawing = false; // something was sent to draw since the last reset
    QList<qint64> m_endedAtMs;
    QElapsedTimer m_clock;
};
