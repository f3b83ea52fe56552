#include "session/drawsession.h"
#include "session/referenceimage.h"

#include "account/dravlinaccount.h"
#include "account/generationstream.h"
#include "account/keychain.h"
#include "account/preferences.h"
#include "account/serviceclient.h"
#include "session/svgextract.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>

namespace {
const QString kPayWithKey = QStringLiteral("DravlinPayWith");
const QString kDefaultPayWith = QStringLiteral("credits");
const QString kPublishLocalKey = QStringLiteral("DravlinPublishLocal");
// Larger files are refused before they are read whole.
constexpr qint64 kMaxReferenceBytes = 20'000'000;
constexpr int kPreviewSide = 512;

// A PNG of the picture no larger than the view needs, as a data URL: a URL of the whole file would
// be megabytes of text to rebuild and to decode.
QUrl previewSource(const QImage &image)
{
    const QImage preview =
        (image.width() > kPreviewSide || image.height() > kPreviewSide)
            ? image.scaled(kPreviewSide, kPreviewSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : image;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    preview.save(&buffer, "PNG");
    return QUrl(QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64()));
}
} // namespace

// The handle of one run. Stopping sets the flag and runs whatever the run is waiting on has
// registered as its way out (closing the chat request, for instance). Parented to the session,
// so a window closed mid-run takes the run and its request with it.
class RunTask : public QObject
{
public:
    explicit RunTask(QObject *parent) : QObject(parent) {}

    void cancel()
    {
        if (cancelled)
            return;
        cancelled = true;
        if (onCancel)
            std::exchange(onCancel, nullptr)();
    }

    bool cancelled = false;
    std::function<void()> onCancel;
    // The model that draws and whether it is a cloud model, fixed when the run is accepted: the
    // picker may change while it runs, and the drawing is published under the model that made it.
    QString model;
    bool cloud = false;
};

int physicalMemoryGB();

DrawSession::DrawSession(QObject *parent) : DrawSession(Downloads::shared(), parent) {}

DrawSession::DrawSession(Downloads *downloads, QObject *parent)
    : QObject(parent), m_canvas(new CanvasController(this)), m_client(new OllamaClient(this)),
      m_ramGB(physicalMemoryGB()), m_downloads(downloads)
{
    // A download that ends, in this window or another, changes what this window lists.
    if (downloads)
        connect(downloads, &Downloads::installedChanged, this, &DrawSession::refreshAll);
    m_startedAt.start();
    // The canvas comes back empty by itself; the transcript and the result are still the run's.
    connect(m_canvas, &CanvasController::drawingLost, this,
            [this] { setStatusNote(QStringLiteral("The drawing was too heavy to show.")); });
}

DrawSession::~DrawSession() = default;

void DrawSession::setSelectedModel(const QString &model)
{
    if (m_selectedModel == model)
        return;
    m_selectedModel = model;
    Q_EMIT selectedModelChanged();
    Q_EMIT selectionDetailsChanged();
}

QString DrawSession::payWith() const
{
    return Preferences::value(kPayWithKey, kDefaultPayWith).toString();
}

void DrawSession::setPayWith(const QString &choice)
{
    if (payWith() == choice)
        return;
    Preferences::setValue(kPayWithKey, choice);
    Q_EMIT payWithChanged();
}

void DrawSession::setModels(const QList<OllamaModel> &models)
{
    if (m_models == models)
        return;
    m_models = models;
    Q_EMIT modelsChanged();
    Q_EMIT selectionDetailsChanged();
}

bool DrawSession::publishLocal() const
{
    return Preferences::value(kPublishLocalKey, true).toBool();
}

void DrawSession::setPublishLocal(bool publish)
{
    if (publishLocal() == publish)
        return;
    Preferences::setValue(kPublishLocalKey, publish);
    Q_EMIT publishLocalChanged();
}

bool DrawSession::isInstalled(const QString &name) const
{
    return std::any_of(m_models.cbegin(), m_models.cend(),
                       [&name](const OllamaModel &model) { return model.name == name; });
}

bool DrawSession::isCloudModel(const QString &id) const
{
    return !isInstalled(id) && id.contains(QLatin1Char('/'));
}

bool DrawSession::isVisionModel(const QString &id) const
{
    if (isCloudModel(id)) {
        const QList<CloudModel> offered = cloudModels();
        for (const CloudModel &model : offered) {
            if (model.id == id)
                return model.vision.value_or(false);
        }
        return false;
    }
    for (const OllamaModel &model : m_models) {
        if (model.name == id)
            return model.vision;
    }
    return false;
}

QString DrawSession::modelLabel(const QString &id) const
{
    if (isCloudModel(id)) {
        const QList<CloudModel> offered = cloudModels();
        for (const CloudModel &model : offered) {
            if (model.id == id)
                return model.name;
        }
    }
    return id;
}

bool DrawSession::selectedIsVision() const
{
    return isVisionModel(m_selectedModel);
}

QString DrawSession::selectedModelLabel() const
{
    return modelLabel(m_selectedModel);
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

void DrawSession::setReferenceError(const QString &error)
{
    if (m_referenceError == error)
        return;
    m_referenceError = error;
    Q_EMIT referenceErrorChanged();
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
    if (m_running || trimmed.isEmpty() || m_selectedModel.isEmpty())
        return;

    setRunning(true);
    setActivePrompt(trimmed);
    clearNarration();
    setResultSVG(std::nullopt);
    setDurationText(std::nullopt);
    setPublishedURL(QUrl());
    setStatusNote(std::nullopt);

    m_canvas->resetCanvas();

    m_currentPrompt = trimmed;
    m_startedAt.start();
    setTurnStartedAt(QDateTime::currentDateTime());

    auto *task = new RunTask(this);
    task->model = m_selectedModel;
    task->cloud = isCloudModel(m_selectedModel);
    m_task = task;
    if (m_runModelLabel != selectedModelLabel()) {
        m_runModelLabel = selectedModelLabel();
        Q_EMIT runModelLabelChanged();
    }
    // Like any task, the run begins on a later turn of the event loop, never inside start().
    QTimer::singleShot(0, task, [this, task, trimmed] { run(task, trimmed); });
}

void DrawSession::stop()
{
    if (m_task)
        m_task->cancel();
}

void DrawSession::run(RunTask *task, const QString &prompt)
{
    auto done = [this, task] {
        setLoadingModel(false);
        setRunning(false);
        setTurnStartedAt(QDateTime());
        task->deleteLater();
    };
    if (task->cancelled) {
        // Stopped before the run began: it would have seen the cancellation at its first check.
        setStatusNote(QStringLiteral("Stopped."));
        done();
        return;
    }
    if (task->cloud)
        runCloud(task, prompt, done);
    else
        runLocal(task, prompt, done);
}

void DrawSession::runCloud(RunTask *task, const QString &prompt, std::function<void()> done)
{
    if (!m_account || !m_account->signedIn()) {
        setStatusNote(QStringLiteral("Sign in to draw with cloud models."));
        done();
        return;
    }
    const QString payWith = this->payWith();
    if (payWith == QLatin1String("key") && !Keychain::value(Keychain::openRouterKeyItem)) {
        setStatusNote(QString::fromUtf16(
            u"No OpenRouter key \u2014 add one from the \u22ef menu, or switch to Dravlin Credit."));
        done();
        return;
    }

    GenerationRequest request{prompt, task->model, modelLabel(task->model), payWith, std::nullopt};
    if (isVisionModel(task->model))
        request.image = m_referenceData;
    GenerationStream *stream = m_account->streamGeneration(request, task);
    connect(stream, &GenerationStream::eventReceived, task, [this, task, stream](const QJsonObject &event) {
        if (task->cancelled) {
            stream->cancel();
            return;
        }
        handleCloudEvent(event);
    });
    connect(stream, &GenerationStream::finished, task,
            [this, task, done](const std::optional<QString> &error) {
                task->onCancel = nullptr;
                if (error)
                    setStatusNote(task->cancelled ? QStringLiteral("Stopped.") : *error);
                done();
            });
    task->onCancel = [this, task, stream, done] {
        stream->cancel();
        // Closing the request is how a stop reaches a cloud run: as the stream's failure.
        QTimer::singleShot(0, task, [this, done] {
            setStatusNote(QStringLiteral("Stopped."));
            done();
        });
    };
}

void DrawSession::handleCloudEvent(const QJsonObject &event)
{
    const QJsonValue url = event.value(QStringLiteral("url"));
    if (url.isString())
        setPublishedURL(ServiceClient::webAddress(url.toString()));
    const QJsonValue reasoning = event.value(QStringLiteral("r"));
    if (reasoning.isString())
        appendThinking(reasoning.toString());
    const QJsonValue answer = event.value(QStringLiteral("c"));
    if (answer.isString()) {
        const QString piece = answer.toString();
        appendAnswer(piece);
        m_canvas->applyDelta(piece);
    }
    const QJsonValue error = event.value(QStringLiteral("error"));
    if (error.isString())
        setStatusNote(error.toString());
    if (!event.contains(QStringLiteral("done")))
        return;
    const QJsonValue svg = event.value(QStringLiteral("svg"));
    // The service's own cut wins; otherwise only a closed drawing counts (no open-ended fallback).
    const std::optional<QString> result =
        svg.isString() ? std::optional<QString>(svg.toString()) : SvgExtract::cloudRun(m_answer);
    m_canvas->finish(result);
    if (result)
        finish(*result);
    else
        setStatusNote(QStringLiteral("The model replied but didn't finish an SVG."));
    // The balance changed; the run does not wait for it.
    if (m_account)
        m_account->refreshCredits();
}

void DrawSession::runLocal(RunTask *task, const QString &prompt, std::function<void()> done)
{
    // The mode and the image are fixed now: attaching another image mid-run changes nothing.
    const QJsonArray messages = (isVisionModel(task->model) && m_referenceData)
                                    ? Prompts::recreateMessages(prompt, *m_referenceData)
                                    : Prompts::drawMessages(prompt);

    ChatStream *stream = m_client->streamChat(task->model, messages, task);
    // The server answers nothing until the model is in memory, which can take minutes.
    setLoadingModel(true);
    connect(stream, &ChatStream::firstLine, task, [this] { setLoadingModel(false); });
    connect(stream, &ChatStream::element, task, [this, task, stream](const ChatElement &piece) {
        if (task->cancelled) {
            stream->cancel();
            return;
        }
        // Thinking is narration only: a plan that mentions "<svg" must never reach the canvas.
        if (piece.thinking) {
            appendThinking(*piece.thinking);
        }
        if (piece.content) {
            appendAnswer(*piece.content);
            m_canvas->applyDelta(*piece.content);
        }
    });
    connect(stream, &ChatStream::finished, task, [this, task, done](const std::optional<OllamaError> &error) {
        task->onCancel = nullptr;
        concludeLocal(task, error, done);
    });
    task->onCancel = [this, task, stream, done] {
        stream->cancel();
        // The stream ends as seen from the run: conclude on the next turn, as the stop reaches it.
        QTimer::singleShot(0, task, [this, task, done] { concludeLocal(task, std::nullopt, done); });
    };
}

void DrawSession::concludeLocal(RunTask *task, const std::optional<OllamaError> &error,
                                const std::function<void()> &done)
{
    if (task->cancelled) {
        setStatusNote(QStringLiteral("Stopped."));
        done();
        return;
    }
    // After a failure, an SVG begun before it is still the drawing, and the failure is not shown.
    // The session's answer and narration are this run's: a run is accepted only when none is going.
    const std::optional<QString> svg = SvgExtract::localRun(m_answer, m_narration);
    if (!svg) {
        m_canvas->finish(std::nullopt);
        setStatusNote(error ? error->description()
                            : QStringLiteral("The model replied but didn't finish an SVG."));
        done();
        return;
    }
    m_canvas->finish(*svg);
    finish(*svg);
    publishDrawing(task, done);
}

void DrawSession::publishDrawing(RunTask *task, std::function<void()> done)
{
    if (!m_account || !m_account->signedIn() || !publishLocal()) {
        done();
        return;
    }
    PublishedDrawing drawing;
    drawing.prompt = m_currentPrompt;
    drawing.model = task->model;
    drawing.modelLabel = task->model + QString::fromUtf16(u" \u00b7 local");
    drawing.provider = QStringLiteral("local");
    drawing.costUSD = 0;
    drawing.durationMs = m_startedAt.elapsed();
    // Others see what the window shows: the answer's narration, never the private thinking.
    drawing.transcript = SvgExtract::prose(m_answer);
    // The drawing is already recorded; a stop while it uploads just ends the run.
    auto *upload = new QObject(task);
    task->onCancel = [upload, done] {
        delete upload;
        done();
    };
    // And the drawing as the canvas shows it: the sanitized tree "Save SVG…" writes, not the
    // model's own text, which may hold scripts, event handlers and remote images.
    m_canvas->requestDrawingSvg(upload, [this, task, upload, done, drawing](const QString &shown) mutable {
        if (shown.isEmpty() || !m_account) {
            task->onCancel = nullptr;
            setStatusNote(QStringLiteral("Publish failed: the canvas couldn't hand over the drawing."));
            done();
            return;
        }
        drawing.svg = shown;
        m_account->publish(drawing, upload, [this, task, done](const PublishResult &result) {
            task->onCancel = nullptr;
            if (result.error)
                setStatusNote(QStringLiteral("Publish failed: ") + result.error->description());
            else
                setPublishedURL(result.url);
            done();
        });
    });
}

void DrawSession::finish(const QString &svg)
{
    setResultSVG(svg);
    setDurationText(formatDuration(double(m_startedAt.nsecsElapsed()) / 1e9));
}

// ---- the reference image ----

bool DrawSession::attachReference(const QUrl &fileUrl)
{
    if (!fileUrl.isLocalFile())
        return false;
    return attachReferenceFile(fileUrl.toLocalFile());
}

bool DrawSession::attachReferenceFile(const QString &path)
{
    QFile file(path);
    // Never more than one byte past the limit, whatever size the file claims to have: a device or
    // a pipe has none.
    const qint64 readLimit = kMaxReferenceBytes + 1;
    const QByteArray bytes =
        file.open(QIODevice::ReadOnly)
            ? file.read(file.isSequential() ? readLimit : std::min(file.size() + 1, readLimit))
            : QByteArray();
    return attachReferenceBytes(bytes);
}

bool DrawSession::attachReferenceBytes(const QByteArray &bytes)
{
    if (bytes.size() > kMaxReferenceBytes) {
        setReferenceError(QStringLiteral("That image is larger than 20 MB. Choose a smaller one."));
        return false;
    }
    QString why;
    std::optional<ReferenceImage::Prepared> prepared = ReferenceImage::prepare(bytes, &why);
    if (!prepared) {
        setReferenceError(why);
        return false;
    }
    m_referenceImage = prepared->image;
    m_referenceData = ReferenceData{QString::fromLatin1(prepared->bytes.toBase64()), prepared->contentType};
    m_referenceSource = previewSource(m_referenceImage);
    setReferenceError(QString());
    Q_EMIT referenceChanged();
    return true;
}

void DrawSession::clearReference()
{
    setReferenceError(QString());
    if (!m_referenceData && m_referenceImage.isNull())
        return;
    m_referenceImage = QImage();
    m_referenceData.reset();
    m_referenceSource = QUrl();
    Q_EMIT referenceChanged();
}
