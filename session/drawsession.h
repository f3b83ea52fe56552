#pragma once

#include "canvas/canvascontroller.h"
#include "models/ollamaclient.h"
#include "session/downloads.h"
#include "session/modelcatalog.h"
#include "session/prompts.h"
#include "session/referenceattachment.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <optional>

class DravlinAccount;
class RunTask;

// One window's drawing: the run of one drawing from a submitted prompt to a finished SVG, with
// the window's models, its reference image, its canvas and the application's downloads as
// sub-objects of their own. Everything here lives on the main thread; the view binds to the
// properties and calls the invokables. Optional texts read as empty strings when absent.
class DrawSession : public QObject
{
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(QString activePrompt READ activePrompt NOTIFY activePromptChanged)
    Q_PROPERTY(QString narration READ narration NOTIFY narrationChanged)
    Q_PROPERTY(QString thinking READ thinking NOTIFY thinkingChanged)
    Q_PROPERTY(QString answer READ answer NOTIFY answerChanged)
    Q_PROPERTY(QString runModelLabel READ runModelLabel NOTIFY runModelLabelChanged)
    Q_PROPERTY(QString resultSVG READ resultSVGText NOTIFY resultSVGChanged)
    Q_PROPERTY(QString durationText READ durationTextOrEmpty NOTIFY durationTextChanged)
    Q_PROPERTY(QUrl publishedURL READ publishedURL NOTIFY publishedURLChanged)
    Q_PROPERTY(QString statusNote READ statusNoteOrEmpty NOTIFY statusNoteChanged)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(QDateTime turnStartedAt READ turnStartedAt NOTIFY turnStartedAtChanged)
    Q_PROPERTY(bool loadingModel READ loadingModel NOTIFY loadingModelChanged)
    Q_PROPERTY(QString payWith READ payWith WRITE setPayWith NOTIFY payWithChanged)
    Q_PROPERTY(bool publishLocal READ publishLocal WRITE setPublishLocal NOTIFY publishLocalChanged)

    Q_PROPERTY(ModelCatalog *catalog READ catalog CONSTANT)
    Q_PROPERTY(ReferenceAttachment *reference READ reference CONSTANT)
    Q_PROPERTY(CanvasController *canvas READ canvas CONSTANT)
    Q_PROPERTY(Downloads *downloads READ downloads CONSTANT)

public:
    // A window's session shares the application's downloads; a test may hand it others.
    explicit DrawSession(QObject *parent = nullptr);
    explicit DrawSession(Downloads *downloads, QObject *parent = nullptr);
    ~DrawSession() override;

    QString activePrompt() const { return m_activePrompt; }
    // Everything the model said in the run, thinking and answer as they arrived: what is published
    // and kept.
    QString narration() const { return m_narration; }
    // The same apart: the model's thinking (a cloud model's reasoning), and its answer.
    QString thinking() const { return m_thinking; }
    QString answer() const { return m_answer; }
    // The model of the current or last run, as it was named when the run began: the picker may
    // have moved on since.
    QString runModelLabel() const { return m_runModelLabel; }
    std::optional<QString> resultSVG() const { return m_resultSVG; }
    std::optional<QString> durationText() const { return m_durationText; }
    QUrl publishedURL() const { return m_publishedURL; }
    std::optional<QString> statusNote() const { return m_statusNote; }
    bool running() const { return m_running; }
    QDateTime turnStartedAt() const { return m_turnStartedAt; }
    // True while a local run waits for the first line of its reply: the server is loading the model.
    bool loadingModel() const { return m_loadingModel; }
    // How cloud drawings are paid ("credits" or "key"), and whether a signed-in user's local
    // drawings are published; both are the user's, kept for every window.
    QString payWith() const;
    void setPayWith(const QString &choice);
    bool publishLocal() const;
    void setPublishLocal(bool publish);

    ModelCatalog *catalog() const { return m_catalog; }
    ReferenceAttachment *reference() const { return m_reference; }
    CanvasController *canvas() const { return m_canvas; }
    // Not the session's own: they outlive its window.
    Downloads *downloads() const { return m_downloads; }
    OllamaClient *client() const { return m_client; }

    // Held weakly: the window owns the account.
    void setAccount(DravlinAccount *account);
    DravlinAccount *account() const;

    // "%.1fs": 12.34 s reads "12.3s", 75 s reads "75.0s".
    static QString formatDuration(double seconds);

    // Accepts and starts a run, or does nothing: while a run is in progress, for a blank prompt,
    // or with no model selected.
    Q_INVOKABLE void start(const QString &prompt);
    // Stops the run in progress at once: it ends "Stopped.", or quietly while its finished
    // drawing is being published.
    Q_INVOKABLE void stop();

Q_SIGNALS:
    void activePromptChanged();
    void narrationChanged();
    void thinkingChanged();
    void answerChanged();
    void runModelLabelChanged();
    void resultSVGChanged();
    void durationTextChanged();
    void publishedURLChanged();
    void statusNoteChanged();
    void runningChanged();
    void turnStartedAtChanged();
    void loadingModelChanged();
    void payWithChanged();
    void publishLocalChanged();

private:
    QString resultSVGText() const { return m_resultSVG.value_or(QString()); }
    QString durationTextOrEmpty() const { return m_durationText.value_or(QString()); }
    QString statusNoteOrEmpty() const { return m_statusNote.value_or(QString()); }

    void setRunning(bool running);
    void setActivePrompt(const QString &prompt);
    void clearNarration();
    void appendThinking(const QString &piece);
    void appendAnswer(const QString &piece);
    void setResultSVG(const std::optional<QString> &svg);
    void setDurationText(const std::optional<QString> &text);
    void setPublishedURL(const QUrl &url);
    void setStatusNote(const std::optional<QString> &note);
    void setTurnStartedAt(const QDateTime &at);
    void setLoadingModel(bool loading);

    // The steps of a run, in order: it runs locally or in the cloud, an SVG is cut from the reply,
    // a local drawing is published, and every way out goes through end().
    void run(RunTask *task);
    void runLocal(RunTask *task);
    void runCloud(RunTask *task);
    void handleCloudEvent(const QJsonObject &event);
    void concludeLocal(RunTask *task, const std::optional<OllamaError> &error);
    void publishDrawing(RunTask *task);
    void finish(const QString &svg);
    void end(RunTask *task, const std::optional<QString> &note = std::nullopt);

    QString m_activePrompt;
    QString m_narration;
    QString m_thinking;
    QString m_answer;
    QString m_runModelLabel;
    std::optional<QString> m_resultSVG;
    std::optional<QString> m_durationText;
    QUrl m_publishedURL;
    std::optional<QString> m_statusNote;
    bool m_running = false;
    bool m_loadingModel = false;
    QDateTime m_turnStartedAt;
    QElapsedTimer m_startedAt;

    CanvasController *m_canvas;
    OllamaClient *m_client;
    QPointer<Downloads> m_downloads;
    ModelCatalog *m_catalog;
    ReferenceAttachment *m_reference;
    QPointer<DravlinAccount> m_account;
    QPointer<RunTask> m_task;
};
