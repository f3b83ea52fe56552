#pragma once

#include "canvas/canvascontroller.h"
#include "models/ollamaclient.h"
#include "models/ollamamodel.h"
#include "session/catalog.h"
#include "session/downloads.h"
#include "session/prompts.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <optional>

class DravlinAccount;
class RunTask;

// The drawing state of one window and the run of one drawing, from a submitted prompt to a
// finished SVG. Everything here lives on the main thread; the view binds to the properties and
// calls the invokables. Optional texts read as empty strings when absent.
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
    Q_PROPERTY(QString selectedModel READ selectedModel WRITE setSelectedModel NOTIFY selectedModelChanged)
    Q_PROPERTY(QString payWith READ payWith WRITE setPayWith NOTIFY payWithChanged)
    Q_PROPERTY(QDateTime turnStartedAt READ turnStartedAt NOTIFY turnStartedAtChanged)
    Q_PROPERTY(bool hasReference READ hasReference NOTIFY referenceChanged)
    Q_PROPERTY(QUrl referenceImageSource READ referenceImageSource NOTIFY referenceChanged)
    Q_PROPERTY(bool selectedIsVision READ selectedIsVision NOTIFY selectionDetailsChanged)
    Q_PROPERTY(QString selectedModelLabel READ selectedModelLabel NOTIFY selectionDetailsChanged)
    Q_PROPERTY(bool selectedIsCloud READ selectedIsCloud NOTIFY selectionDetailsChanged)
    Q_PROPERTY(bool loadingModel READ loadingModel NOTIFY loadingModelChanged)
    Q_PROPERTY(bool publishLocal READ publishLocal WRITE setPublishLocal NOTIFY publishLocalChanged)
    Q_PROPERTY(QString referenceError READ referenceError NOTIFY referenceErrorChanged)
    Q_PROPERTY(CanvasController *canvas READ canvas CONSTANT)

    Q_PROPERTY(QVariantList models READ modelsForView NOTIFY modelsChanged)
    Q_PROPERTY(bool ollamaUp READ ollamaUp NOTIFY ollamaUpChanged)
    Q_PROPERTY(QVariantList recommended READ recommendedForView NOTIFY recommendedChanged)
    Q_PROPERTY(QVariantList cloudCatalog READ cloudCatalogForView NOTIFY cloudCatalogChanged)
    Q_PROPERTY(QStringList featuredCloud READ featuredCloud NOTIFY featuredCloudChanged)
    Q_PROPERTY(bool catalogFailed READ catalogFailed NOTIFY catalogFailedChanged)
    Q_PROPERTY(QStringList enabledCloudIDs READ enabledCloudIDs NOTIFY enabledCloudChanged)
    Q_PROPERTY(QVariantList cloudModels READ cloudModelsForView NOTIFY cloudModelsChanged)
    Q_PROPERTY(Downloads *downloads READ downloads CONSTANT)
    Q_PROPERTY(int ramGB READ ramGB CONSTANT)
    Q_PROPERTY(QString updateVersion READ updateVersionOrEmpty NOTIFY updateVersionChanged)
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)

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
    QString selectedModel() const { return m_selectedModel; }
    void setSelectedModel(const QString &model);
    QString payWith() const;
    void setPayWith(const QString &choice);
    QDateTime turnStartedAt() const { return m_turnStartedAt; }
    // True while a local run waits for the first line of its reply: the server is loading the model.
    bool loadingModel() const { return m_loadingModel; }
    // Whether a signed-in user's local drawings are published when they finish; on unless turned off.
    bool publishLocal() const;
    void setPublishLocal(bool publish);

    // ---- model lists ----
    QList<OllamaModel> models() const { return m_models; }
    void setModels(const QList<OllamaModel> &models);
    bool ollamaUp() const { return m_ollamaUp; }
    QList<RecommendedModel> recommended() const { return m_recommended; }
    QMap<QString, RecommendedModel> localByFamily() const { return m_localByFamily; }
    QList<CloudModel> cloudCatalog() const { return m_cloudCatalog; }
    QStringList featuredCloud() const { return m_featuredCloud; }
    // Whether the last attempt to load the catalog failed (what was loaded before stays).
    bool catalogFailed() const { return m_catalogFailed; }
    // The enabled cloud ids as stored: joined with ",", in the user's order.
    QString enabledCloudRaw() const;
    QStringList enabledCloudIDs() const;
    // The cloud models offered for drawing: the enabled ones, or the featured ones when none is.
    QList<CloudModel> cloudModels() const;
    // Whole GiB of memory, rounded down.
    int ramGB() const { return m_ramGB; }
    std::optional<QString> releaseLabel(const OllamaModel &model) const;
    Q_INVOKABLE QString releaseLabelFor(const QString &modelName) const;

    // Refreshes the installed models and whether the local server answers; done runs afterwards.
    Q_INVOKABLE void refreshModels() { refreshModels(nullptr); }
    void refreshModels(std::function<void()> done);
    // Fetches the service's catalog of recommended and cloud models; nothing changes on failure.
    Q_INVOKABLE void refreshRecommended() { refreshRecommended(nullptr); }
    void refreshRecommended(std::function<void()> done);
    Q_INVOKABLE void toggleCloud(const QString &id);
    // Replaces the enabled cloud models with the signed-in account's favourites.
    Q_INVOKABLE void loadFavorites() { loadFavorites(nullptr); }
    void loadFavorites(std::function<void()> done);

    // ---- downloads ----
    // Not the session's own: they outlive its window.
    Downloads *downloads() const { return m_downloads; }

    // ---- updates ----
    std::optional<QString> updateVersion() const { return m_updateVersion; }
    QString currentVersion() const;
    // Asks quietly whether a newer release exists; remembers its version when one does.
    Q_INVOKABLE void checkForUpdate();

    // ---- the account ----
    // Held weakly: the window owns the account.
    Q_INVOKABLE void setAccount(DravlinAccount *account);
    DravlinAccount *account() const;

    bool hasReference() const { return m_referenceData.has_value(); }
    QImage referenceImage() const { return m_referenceImage; }
    std::optional<ReferenceData> referenceData() const { return m_referenceData; }
    // A small preview of the attached image, made once per attachment.
    QUrl referenceImageSource() const { return m_referenceSource; }
    // Why the last attempt to attach an image failed; empty after a success or a removal.
    QString referenceError() const { return m_referenceError; }

    bool selectedIsVision() const;
    QString selectedModelLabel() const;
    bool selectedIsCloud() const { return isCloudModel(m_selectedModel); }

    CanvasController *canvas() const { return m_canvas; }
    OllamaClient *client() const { return m_client; }

    // An installed local model is local whatever its name (the local server allows "owner/model:tag");
    // any other identifier names a cloud model exactly when it contains "/".
    Q_INVOKABLE bool isCloudModel(const QString &id) const;
    // "%.1fs": 12.34 s reads "12.3s", 75 s reads "75.0s".
    static QString formatDuration(double seconds);

    // Accepts and starts a run, or does nothing: while a run is in progress, for a blank prompt,
    // or with no model selected.
    Q_INVOKABLE void start(const QString &prompt);
    // Cancels the run in progress; the run itself reports "Stopped.".
    Q_INVOKABLE void stop();

    // Attaches a reference image read from a local file. A file whose bytes are not an image
    // changes nothing and returns false.
    Q_INVOKABLE bool attachReference(const QUrl &fileUrl);
    bool attachReferenceFile(const QString &path);
    // The same for an image's bytes that come from no file (pasted). Its type is its bytes'.
    bool attachReferenceBytes(const QByteArray &bytes);
    Q_INVOKABLE void clearReference();

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
    void selectedModelChanged();
    void payWithChanged();
    void turnStartedAtChanged();
    void referenceChanged();
    void referenceErrorChanged();
    void loadingModelChanged();
    void publishLocalChanged();
    void selectionDetailsChanged();
    void modelsChanged();
    void ollamaUpChanged();
    void recommendedChanged();
    void localByFamilyChanged();
    void cloudCatalogChanged();
    void featuredCloudChanged();
    void catalogFailedChanged();
    void enabledCloudChanged();
    void cloudModelsChanged();
    void updateVersionChanged();
    void updateChecked();
    // A refresh has finished (whatever its outcome).
    void modelsRefreshed();
    void recommendedRefreshed();
    void favoritesLoaded();

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
    void setReferenceError(const QString &error);
    bool isInstalled(const QString &name) const;
    bool isVisionModel(const QString &id) const;
    QString modelLabel(const QString &id) const;

    QVariantList modelsForView() const;
    QVariantList recommendedForView() const;
    QVariantList cloudCatalogForView() const;
    QVariantList cloudModelsForView() const;
    QString updateVersionOrEmpty() const { return m_updateVersion.value_or(QString()); }
    void setOllamaUp(bool up);
    void setEnabledCloud(const QStringList &ids);
    void pushFavorites();
    void refreshAll();

    void run(RunTask *task, const QString &prompt);
    void runLocal(RunTask *task, const QString &prompt, std::function<void()> done);
    void runCloud(RunTask *task, const QString &prompt, std::function<void()> done);
    void handleCloudEvent(const QJsonObject &event);
    void concludeLocal(RunTask *task, const std::optional<OllamaError> &error,
                       const std::function<void()> &done);
    void publishDrawing(RunTask *task, std::function<void()> done);
    void finish(const QString &svg);

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
    QList<OllamaModel> m_models;
    QString m_selectedModel;
    CanvasController *m_canvas;
    OllamaClient *m_client;
    QPointer<RunTask> m_task;
    QString m_currentPrompt;
    QElapsedTimer m_startedAt;
    QImage m_referenceImage;
    std::optional<ReferenceData> m_referenceData;
    QUrl m_referenceSource;
    QString m_referenceError;
    bool m_loadingModel = false;
    QDateTime m_turnStartedAt;

    bool m_ollamaUp = true;
    QList<RecommendedModel> m_recommended;
    QMap<QString, RecommendedModel> m_localByFamily;
    QList<CloudModel> m_cloudCatalog;
    QStringList m_featuredCloud;
    bool m_catalogFailed = false;
    int m_ramGB;
    QPointer<Downloads> m_downloads;
    QPointer<DravlinAccount> m_account;
    std::optional<QString> m_updateVersion;
};
