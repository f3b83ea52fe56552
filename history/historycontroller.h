#pragma once

#include "history/historystore.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class DrawSession;
Q_MOC_INCLUDE("session/drawsession.h")

// One window's link to the kept drawings: it keeps every run that ended with an SVG (once, after
// the run, never while it streams), and it shows a kept drawing on the window's canvas with its
// transcript, read-only, until the window draws again or the entry is closed.
class HistoryController : public QObject
{
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(DrawSession *session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(bool available READ available CONSTANT)
    Q_PROPERTY(QString notice READ notice CONSTANT)
    Q_PROPERTY(bool viewing READ viewing NOTIFY viewingChanged)
    // The entry on show: id, prompt, mode, model, narration (the part before the drawing), svg,
    // duration, publishedURL and its link text (publishedText), date.
    // A map to the view (QVariant, so its fields are read by name, not checked against a type).
    Q_PROPERTY(QVariant entry READ entryForView NOTIFY viewingChanged)
    // After a deletion, for a few seconds: what was deleted ("Deleted “a fox”."), with undo.
    Q_PROPERTY(QString undoText READ undoText NOTIFY undoChanged)

public:
    // Larger drawings are kept without a thumbnail: rendering one would hold up the window.
    static constexpr qsizetype kThumbnailLimitBytes = 5 * 1024 * 1024;
    static constexpr int kThumbnailWidth = 160;

    explicit HistoryController(QObject *parent = nullptr);
    // A store other than the process's own (tests).
    void setStore(HistoryStore *store) { m_store = store; }
    HistoryStore *store() const { return m_store; }

    DrawSession *session() const { return m_session; }
    void setSession(DrawSession *session);
    bool available() const { return m_store && m_store->isOn(); }
    QString notice() const { return m_store ? m_store->notice() : QString(); }
    bool viewing() const { return m_viewing.has_value(); }

    // Shows a kept drawing; refused while the window is drawing.
    Q_INVOKABLE bool open(qint64 id);
    // Back to the window's own drawing.
    Q_INVOKABLE void close();
    // The entry's prompt again, with the window's selected model.
    Q_INVOKABLE void drawAgain();
    // Deletes one drawing at once, but keeps it in memory for a few seconds so it can come back.
    Q_INVOKABLE void remove(qint64 id);
    Q_INVOKABLE void undoRemove();
    QString undoText() const;
    // How long a deletion can be undone (6 s).
    void setUndoWindowMs(int ms) { m_undoTimer.setInterval(ms); }
    Q_INVOKABLE void removeAll();

Q_SIGNALS:
    void sessionChanged();
    void viewingChanged();
    // A finished run is now in the history (tests, and the list's scroll position).
    void kept(qint64 id);
    void undoChanged();
    // "Draw again" started a drawing of this prompt: the prompt field shows it.
    void drawingAgain(const QString &prompt);

private:
    void runStarted();
    void runEnded();
    void save(HistoryEntry entry);
    QVariant entryForView() const;

    QPointer<DrawSession> m_session;
    QPointer<HistoryStore> m_store;
    std::optional<HistoryEntry> m_viewing;
    // What a run was started with: the picker and the attachment may change while it runs.
    QString m_runModel;
    QString m_runMode;
    QString m_runPaidWith;
    std::optional<HistoryEntry> m_removed;
    QTimer m_undoTimer;
};
