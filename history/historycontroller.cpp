#include "history/historycontroller.h"

#include "canvas/canvascontroller.h"
#include "session/drawsession.h"
#include "ui/contentcontroller.h"
#include "ui/visiblenarration.h"

HistoryController::HistoryController(QObject *parent) : QObject(parent), m_store(HistoryStore::shared())
{
    m_undoTimer.setSingleShot(true);
    m_undoTimer.setInterval(6000);
    connect(&m_undoTimer, &QTimer::timeout, this, [this] {
        if (std::exchange(m_removed, std::nullopt))
            Q_EMIT undoChanged();
    });
}

void HistoryController::setSession(DrawSession *session)
{
    if (m_session == session)
        return;
    if (m_session)
        disconnect(m_session, nullptr, this, nullptr);
    m_session = session;
    if (m_session) {
        connect(m_session, &DrawSession::runningChanged, this, [this] {
            if (m_session->running())
                runStarted();
            else
                runEnded();
        });
    }
    Q_EMIT sessionChanged();
}

void HistoryController::runStarted()
{
    const ModelCatalog *catalog = m_session->catalog();
    m_runModel = catalog->selectedModel();
    m_runMode = catalog->selectedIsVision() && m_session->reference()->attached() ? QStringLiteral("recreate")
                                                                                  : QStringLiteral("draw");
    m_runPaidWith = catalog->selectedIsCloud() ? m_session->payWith() : QString();
    // The canvas now shows the new run.
    if (m_viewing) {
        m_viewing.reset();
        Q_EMIT viewingChanged();
    }
}

void HistoryController::runEnded()
{
    const std::optional<QString> svg = m_session->resultSVG();
    if (!svg || svg->isEmpty() || !available())
        return;
    HistoryEntry entry;
    entry.createdAt = QDateTime::currentDateTimeUtc();
    entry.prompt = m_session->activePrompt();
    entry.mode = m_runMode;
    entry.model = m_runModel;
    entry.paidWith = m_runPaidWith;
    entry.narration = m_session->narration();
    entry.svg = *svg;
    // The duration the window showed, to the tenth of a second.
    entry.durationMs =
        qint64(m_session->durationText().value_or(QString()).chopped(1).toDouble() * 1000 + 0.5);
    entry.publishedURL = m_session->publishedURL();
    if (svg->size() * 2 > kThumbnailLimitBytes && svg->toUtf8().size() > kThumbnailLimitBytes) {
        save(std::move(entry));
        return;
    }
    // The canvas holds the finished drawing by now: the thumbnail comes from the same sanitized
    // tree as every export. Without one the drawing is still kept.
    CanvasController::PngOptions options;
    options.width = kThumbnailWidth;
    options.whiteBackground = true;
    m_session->canvas()->requestDrawingPng(options, this,
                                           [this, entry](const QByteArray &png, const QString &) {
                                               HistoryEntry withThumbnail = entry;
                                               withThumbnail.thumbnail = png;
                                               save(std::move(withThumbnail));
                                           });
}

void HistoryController::save(HistoryEntry entry)
{
    if (!m_store)
        return;
    if (const std::optional<qint64> id = m_store->add(entry))
        Q_EMIT kept(*id);
}

bool HistoryController::open(qint64 id)
{
    if (!m_store || !m_session || m_session->running())
        return false;
    std::optional<HistoryEntry> entry = m_store->entry(id);
    if (!entry)
        return false;
    m_viewing = std::move(entry);
    m_session->canvas()->resetCanvas();
    m_session->canvas()->finish(m_viewing->svg);
    Q_EMIT viewingChanged();
    return true;
}

void HistoryController::close()
{
    if (!m_viewing)
        return;
    m_viewing.reset();
    if (m_session && !m_session->running()) {
        m_session->canvas()->resetCanvas();
        if (const std::optional<QString> svg = m_session->resultSVG())
            m_session->canvas()->finish(*svg);
    }
    Q_EMIT viewingChanged();
}

void HistoryController::drawAgain()
{
    if (!m_viewing || !m_session)
        return;
    const QString prompt = m_viewing->prompt;
    m_session->start(prompt);
    // Only a drawing that started: a refused one leaves the field as the user left it.
    if (m_session->running())
        Q_EMIT drawingAgain(prompt);
}

void HistoryController::remove(qint64 id)
{
    if (m_viewing && m_viewing->id == id)
        close();
    if (!m_store)
        return;
    // Read whole before it goes: an undo puts back the same drawing, thumbnail and all.
    std::optional<HistoryEntry> whole = m_store->entry(id);
    if (!m_store->remove(id))
        return;
    m_removed = std::move(whole);
    m_undoTimer.start();
    Q_EMIT undoChanged();
}

void HistoryController::undoRemove()
{
    if (!m_removed)
        return;
    const HistoryEntry entry = *std::exchange(m_removed, std::nullopt);
    m_undoTimer.stop();
    Q_EMIT undoChanged();
    if (m_store)
        m_store->add(entry);
}

QString HistoryController::undoText() const
{
    if (!m_removed)
        return QString();
    return tr("Deleted “%1”.").arg(m_removed->prompt);
}

void HistoryController::removeAll()
{
    if (std::exchange(m_removed, std::nullopt))
        Q_EMIT undoChanged();
    close();
    if (m_store)
        m_store->removeAll();
}

QVariant HistoryController::entryForView() const
{
    if (!m_viewing)
        return {};
    const HistoryEntry &e = *m_viewing;
    return QVariantMap{
        {QStringLiteral("id"), e.id},
        {QStringLiteral("prompt"), e.prompt},
        {QStringLiteral("mode"), e.mode},
        {QStringLiteral("model"), e.model},
        {QStringLiteral("narration"), VisibleNarration::of(e.narration)},
        {QStringLiteral("svg"), e.svg},
        {QStringLiteral("duration"),
         e.durationMs > 0 ? DrawSession::formatDuration(double(e.durationMs) / 1000.0) : QString()},
        {QStringLiteral("publishedURL"), e.publishedURL},
        // As the transcript words a fresh drawing's link.
        {QStringLiteral("publishedText"),
         e.publishedURL.isEmpty()
             ? QString()
             : tr("published → %1")
                   .arg((e.publishedURL.host().isEmpty() ? ContentController::serviceHost()
                                                         : e.publishedURL.host()) +
                        e.publishedURL.path())},
        {QStringLiteral("date"), e.createdAt.toLocalTime()}};
}
