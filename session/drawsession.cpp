#include "session/drawsession.h"

#include "account/dravlinaccount.h"
#include "account/generationstream.h"
#include "account/keychain.h"
#include "account/serviceclient.h"
#include "base/logging.h"
#include "base/settings.h"
#include "session/svgextract.h"

#include <QJsonObject>
#include <QTimer>

// One run, from its acceptance to its end. Parented to the session, so a window closed mid-run
// takes the run and its requests with it; everything the run waits on is its child.
class RunTask : public QObject
{
public:
    explicit RunTask(QObject *parent) : QObject(parent) {}

    // Closes whatever the run is waiting on. The run's own callbacks see the flag and leave the
    // ending to whoever stopped it.
    void cancel()
    {
        cancelled = true;
        if (onCancel)
            std::exchange(onCancel, nullptr)();
    }

    // What the run draws, fixed when it is accepted: the picker and the attachment may change
    // while it runs, and the drawing is published under the model that made it.
    QString prompt;
    QString model;
    QString modelLabel;
    bool cloud = false;
    std::optional<ReferenceData> image;

    bool cancelled = false;
    bool ended = false;
    // The drawing is finished and on its way to the service: a stop no longer says "Stopped.".
    bool publishing = false;
    std::function<void()> onCancel;
};

DrawSession::DrawSession(QObject *parent) : DrawSession(Downloads::shared(), parent) {}

DrawSession::DrawSession(Downloads *downloads, QObject *parent)
    : QObject(parent), m_canvas(new CanvasController(this)), m_client(new OllamaClient(this)),
      m_downloads(downloads), m_catalog(new ModelCatalog(m_client, downloads, this)),
      m_reference(new ReferenceAttachment(this))
{
    m_startedAt.start();
    // The canvas comes back empty by itself; the transcript and the result are still the run's.
    connect(m_canvas, &CanvasController::drawingLost, this, [this] {
        qCWarning(lcSession) << "the canvas lost a drawing too heavy to show";
        setStatusNote(tr("The drawing was too heavy to show."));
    });
    connect(&Settings::shared(), &Settings::payWithChanged, this, &DrawSession::payWithChanged);
    connect(&Settings::shared(), &Settings::publishLocalChanged, this, &DrawSession::publishLocalChanged);
}

DrawSession::~DrawSession() = default;

QString DrawSession::payWith() const
{
    return Settings::shared().payWith();
}

void DrawSession::setPayWith(const QString &choice)
{
    Settings::shared().setPayWith(choice);
}

bool DrawSession::publishLocal() const
{
    return Settings::shared().publishLocal();
}

void DrawSession::setPublishLocal(bool publish)
{
    Settings::shared().setPublishLocal(publish);
}

void DrawSession::setAccount(DravlinAccount *account)
{
    m_account = account;
    m_catalog->setAccount(account);
}

DravlinAccount *DrawSession::account() const
{
    return m_account;
}

QString DrawSession::formatDuration(double seconds)
{
    return QString::asprintf("%.1fs", seconds);
}

// ---- observable setters: each notifies only on a real change ----

void DrawSession::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    Q_EMIT runningChanged();
}

void DrawSession::setActivePrompt(const QString &prompt)
{
    if (m_activePrompt == prompt)
        return;
    m_activePrompt = prompt;
    Q_EMIT activePromptChanged();
}

void DrawSession::clearNarration()
{
    if (!m_thinking.isEmpty()) {
        m_thinking.clear();
        Q_EMIT thinkingChanged();
    }
    if (!m_answer.isEmpty()) {
        m_answer.clear();
        Q_EMIT answerChanged();
    }
    if (!m_narration.isEmpty()) {
        m_narration.clear();
        Q_EMIT narrationChanged();
    }
}

void DrawSession::appendThinking(const QString &piece)
{
    if (piece.isEmpty())
        return;
    m_thinking += piece;
    m_narration += piece;
    Q_EMIT thinkingChanged();
    Q_EMIT narrationChanged();
}

void DrawSession::appendAnswer(const QString &piece)
{
    if (piece.isEmpty())
        return;
    m_answer += piece;
    m_narration += piece;
    Q_EMIT answerChanged();
    Q_EMIT narrationChanged();
}

void DrawSession::setResultSVG(const std::optional<QString> &svg)
{
    if (m_resultSVG == svg)
        return;
    m_resultSVG = svg;
    Q_EMIT resultSVGChanged();
}

void DrawSession::setDurationText(const std::optional<QString> &text)
{
    if (m_durationText == text)
        return;
    m_durationText = text;
    Q_EMIT durationTextChanged();
}

void DrawSession::setPublishedURL(const QUrl &url)
{
    if (m_publishedURL == url)
        return;
    m_publishedURL = url;
    Q_EMIT publishedURLChanged();
}

void DrawSession::setStatusNote(const std::optional<QString> &note)
{
    if (m_statusNote == note)
        return;
    m_statusNote = note;
    Q_EMIT statusNoteChanged();
}

void DrawSession::setLoadingModel(bool loading)
{
    if (m_loadingModel == loading)
        return;
    m_loadingModel = loading;
    Q_EMIT loadingModelChanged();
}

void DrawSession::setTurnStartedAt(const QDateTime &at)
{
    if (m_turnStartedAt == at && m_turnStartedAt.isValid() == at.isValid())
        return;
    m_turnStartedAt = at;
    Q_EMIT turnStartedAtChanged();
}

// ---- the run ----

void DrawSession::start(const QString &prompt)
{
    const QString trimmed = prompt.trimmed();
    const QString model = m_catalog->selectedModel();
    if (m_running || trimmed.isEmpty() || model.isEmpty())
        return;

    auto *task = new RunTask(this);
    task->prompt = trimmed;
    task->model = model;
    task->modelLabel = m_catalog->selectedModelLabel();
    task->cloud = m_catalog->isCloudModel(model);
    // An image goes only to a model that can see it.
    if (m_catalog->isVisionModel(model))
        task->image = m_reference->data();
    m_task = task;

    setRunning(true);
    setActivePrompt(trimmed);
    clearNarration();
    setResultSVG(std::nullopt);
    setDurationText(std::nullopt);
    setPublishedURL(QUrl());
    setStatusNote(std::nullopt);
    if (m_runModelLabel != task->modelLabel) {
        m_runModelLabel = task->modelLabel;
        Q_EMIT runModelLabelChanged();
    }
    m_canvas->resetCanvas();
    m_startedAt.start();
    setTurnStartedAt(QDateTime::currentDateTime());

    // Like any task, the run begins on a later turn of the event loop, never inside start().
    QTimer::singleShot(0, task, [this, task] { run(task); });
}

void DrawSession::stop()
{
    RunTask *task = m_task;
    if (!task || task->ended)
        return;
    task->cancel();
    // Once drawn and on its way to the service, a stop only ends the wait for the upload.
    end(task, task->publishing ? std::nullopt : std::optional<QString>(tr("Stopped.")));
}

// Every run ends here, once, whichever way it ends: a finished or failed reply, a refusal before
// anything was sent, a stop. What it leaves is the note (if any), and a session ready for the next.
void DrawSession::end(RunTask *task, const std::optional<QString> &note)
{
    if (task->ended)
        return;
    task->ended = true;
    task->onCancel = nullptr;
    if (note) {
        if (!task->cancelled)
            qCWarning(lcSession).noquote() << "a drawing ended:" << *note;
        setStatusNote(note);
    }
    setLoadingModel(false);
    setRunning(false);
    setTurnStartedAt(QDateTime());
    // Its requests go with it, once whatever callback ended it has returned.
    task->deleteLater();
}

void DrawSession::run(RunTask *task)
{
    if (task->ended)
        return;
    if (task->cloud)
        runCloud(task);
    else
        runLocal(task);
}

void DrawSession::runCloud(RunTask *task)
{
    if (!m_account || !m_account->signedIn())
        return end(task, tr("Sign in to draw with cloud models."));
    const QString payWith = this->payWith();
    if (payWith == QLatin1String("key") && !Keychain::value(Keychain::openRouterKeyItem))
        return end(task, tr("No OpenRouter key — add one from the ⋯ menu, or switch to Dravlin Credit."));

    const GenerationRequest request{task->prompt, task->model, task->modelLabel, payWith, task->image};
    GenerationStream *stream = m_account->streamGeneration(request, task);
    connect(stream, &GenerationStream::eventReceived, task, [this, task](const QJsonObject &event) {
        if (!task->cancelled)
            handleCloudEvent(event);
    });
    connect(stream, &GenerationStream::finished, task, [this, task](const std::optional<QString> &error) {
        if (!task->cancelled)
            end(task, error);
    });
    task->onCancel = [stream] {
        stream->cancel();
    };
}

void DrawSession::handleCloudEvent(const QJsonObject &json)
{
    const GenerationEvent event = GenerationEvent::from(json);
    if (event.published)
        setPublishedURL(*event.published);
    if (event.thinking)
        appendThinking(*event.thinking);
    if (event.answer) {
        appendAnswer(*event.answer);
        m_canvas->applyDelta(*event.answer);
    }
    if (event.error) {
        qCWarning(lcSession).noquote() << "the service reported:" << *event.error;
        setStatusNote(*event.error);
    }
    if (!event.done)
        return;
    // The service's own cut wins; otherwise only a closed drawing counts (no open-ended fallback).
    const std::optional<QString> result = event.svg ? event.svg : SvgExtract::cloudRun(m_answer);
    m_canvas->finish(result);
    if (result)
        finish(*result);
    else
        setStatusNote(tr("The model replied but didn't finish an SVG."));
    // The balance changed; the run does not wait for it.
    if (m_account)
        m_account->refreshCredits();
}

void DrawSession::runLocal(RunTask *task)
{
    const QJsonArray messages = task->image ? Prompts::recreateMessages(task->prompt, *task->image)
                                            : Prompts::drawMessages(task->prompt);
    ChatStream *stream = m_client->streamChat(task->model, messages, task);
    // The server answers nothing until the model is in memory, which can take minutes.
    setLoadingModel(true);
    connect(stream, &ChatStream::firstLine, task, [this] { setLoadingModel(false); });
    connect(stream, &ChatStream::element, task, [this, task](const ChatElement &piece) {
        if (task->cancelled)
            return;
        // Thinking is narration only: a plan that mentions "<svg" must never reach the canvas.
        if (piece.thinking)
            appendThinking(*piece.thinking);
        if (piece.content) {
            appendAnswer(*piece.content);
            m_canvas->applyDelta(*piece.content);
        }
    });
    connect(stream, &ChatStream::finished, task, [this, task](const std::optional<OllamaError> &error) {
        if (!task->cancelled)
            concludeLocal(task, error);
    });
    task->onCancel = [stream] {
        stream->cancel();
    };
}

void DrawSession::concludeLocal(RunTask *task, const std::optional<OllamaError> &error)
{
    // After a failure, an SVG begun before it is still the drawing, and the failure is not shown.
    // The session's answer and narration are this run's: a run is accepted only when none is going.
    const std::optional<QString> svg = SvgExtract::localRun(m_answer, m_narration);
    m_canvas->finish(svg);
    if (!svg)
        return end(task, error ? error->description() : tr("The model replied but didn't finish an SVG."));
    finish(*svg);
    publishDrawing(task);
}

void DrawSession::publishDrawing(RunTask *task)
{
    if (!m_account || !m_account->signedIn() || !publishLocal())
        return end(task);
    PublishedDrawing drawing;
    drawing.prompt = task->prompt;
    drawing.model = task->model;
    drawing.modelLabel = task->model + QString::fromUtf16(u" \u00b7 local");
    drawing.provider = QStringLiteral("local");
    drawing.costUSD = 0;
    drawing.durationMs = m_startedAt.elapsed();
    // Others see what the window shows: the answer's narration, never the private thinking.
    drawing.transcript = SvgExtract::prose(m_answer);
    task->publishing = true;
    // Whatever the upload waits on is the upload's: a stop deletes it and the callbacks with it.
    auto *upload = new QObject(task);
    task->onCancel = [upload] {
        delete upload;
    };
    // And the drawing as the canvas shows it: the sanitized tree "Save SVG…" writes, not the
    // model's own text, which may hold scripts, event handlers and remote images.
    m_canvas->requestDrawingSvg(upload, [this, task, upload, drawing](const QString &shown) mutable {
        if (shown.isEmpty() || !m_account)
            return end(task, tr("Publish failed: the canvas couldn't hand over the drawing."));
        drawing.svg = shown;
        m_account->publish(drawing, upload, [this, task](const PublishResult &result) {
            if (result.error)
                return end(task, tr("Publish failed: %1").arg(result.error->description()));
            setPublishedURL(result.url);
            end(task);
        });
    });
}

void DrawSession::finish(const QString &svg)
{
    setResultSVG(svg);
    setDurationText(formatDuration(double(m_startedAt.nsecsElapsed()) / 1e9));
}
