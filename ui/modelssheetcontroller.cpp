#include "ui/modelssheetcontroller.h"

#include "account/dravlinaccount.h"
#include "session/drawsession.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kGiB = 1073741824.0;

QString trimmedSpacesAndTabs(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t');
    };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}
} // namespace

ModelsSheetController::ModelsSheetController(QObject *parent) : QObject(parent) {}

void ModelsSheetController::setSession(DrawSession *session)
{
    if (m_session == session)
        return;
    if (m_session)
        disconnect(m_session, nullptr, this, nullptr);
    m_session = session;
    if (session) {
        for (auto signal : {&DrawSession::recommendedChanged, &DrawSession::enabledCloudChanged})
            connect(session, signal, this, &ModelsSheetController::recommendedRowsChanged);
        // Rows change when a download starts or ends, not with every progress tick.
        if (Downloads *downloads = session->downloads())
            connect(downloads, &Downloads::countChanged, this,
                    &ModelsSheetController::recommendedRowsChanged);
        connect(session, &DrawSession::modelsChanged, this, &ModelsSheetController::installedRowsChanged);
        connect(session, &DrawSession::recommendedChanged, this,
                &ModelsSheetController::installedRowsChanged);
        for (auto signal : {&DrawSession::cloudCatalogChanged, &DrawSession::enabledCloudChanged,
                            &DrawSession::catalogFailedChanged})
            connect(session, signal, this, &ModelsSheetController::cloudResultsChanged);
    }
    Q_EMIT sessionChanged();
    Q_EMIT recommendedRowsChanged();
    Q_EMIT installedRowsChanged();
    Q_EMIT cloudResultsChanged();
}

void ModelsSheetController::setTab(const QString &tab)
{
    const QString value = tab == QLatin1String("cloud") ? tab : QStringLiteral("local");
    if (m_tab == value)
        return;
    m_tab = value;
    Q_EMIT tabChanged();
}

void ModelsSheetController::setSearch(const QString &search)
{
    if (m_search == search)
        return;
    m_search = search;
    Q_EMIT searchChanged();
    Q_EMIT cloudResultsChanged();
}

QList<RecommendedModel> ModelsSheetController::sortedRecommended(QList<RecommendedModel> models)
{
    std::stable_sort(models.begin(), models.end(), [](const RecommendedModel &a, const RecommendedModel &b) {
        if (!a.updatedDays || !b.updatedDays)
            return a.updatedDays.has_value() && !b.updatedDays.has_value();
        return *a.updatedDays < *b.updatedDays;
    });
    return models;
}

QList<CloudModel> ModelsSheetController::matchingCloud(const QList<CloudModel> &catalog,
                                                       const QString &search)
{
    const QString query = trimmedSpacesAndTabs(search).toLower();
    if (query.isEmpty())
        return catalog;
    QList<CloudModel> matches;
    for (const CloudModel &model : catalog) {
        if (model.name.toLower().contains(query) || model.id.toLower().contains(query))
            matches.append(model);
    }
    return matches;
}

QString ModelsSheetController::getLabel(double sizeGB)
{
    // Whole gigabytes, as the catalog's own number reads; a nonsense size shows as 0.
    const qint64 whole = std::isfinite(sizeGB) && std::fabs(sizeGB) < 9e15 ? qint64(sizeGB) : 0;
    return QStringLiteral("Get %1GB").arg(whole);
}

QString ModelsSheetController::gigabytes(qint64 bytes, int decimals)
{
    return QString::asprintf("%.*fGB", decimals, double(bytes) / kGiB);
}

QString ModelsSheetController::totalInstalled(const QList<OllamaModel> &models)
{
    qint64 total = 0;
    for (const OllamaModel &model : models)
        total += model.sizeBytes;
    return gigabytes(total, 0) + QStringLiteral(" on disk");
}

QString ModelsSheetController::removalTitle(const OllamaModel &model)
{
    return QStringLiteral("Remove ") + model.name + QStringLiteral("? Frees ") +
           gigabytes(model.sizeBytes, 1) + QString::fromUtf16(u" \u2014 you can always re-download it.");
}

QVariantList ModelsSheetController::recommendedRows() const
{
    QVariantList rows;
    if (!m_session)
        return rows;
    const QMap<QString, double> pulling =
        m_session->downloads() ? m_session->downloads()->pulling() : QMap<QString, double>();
    const QStringList enabled = m_session->enabledCloudIDs();
    const QList<RecommendedModel> models = sortedRecommended(m_session->recommended());
    for (const RecommendedModel &model : models) {
        const bool fits = m_session->ramGB() >= model.minRamGB;
        const QString action = pulling.contains(model.name) ? QStringLiteral("progress")
                               : fits                       ? QStringLiteral("get")
                                                            : QStringLiteral("needs");
        const bool cloudEnabled = model.cloudId && enabled.contains(*model.cloudId);
        rows.append(QVariantMap{
            {QStringLiteral("name"), model.name},
            {QStringLiteral("title"),
             model.displayName && !model.displayName->isEmpty() ? *model.displayName : model.name},
            {QStringLiteral("updated"), model.updated.value_or(QString())},
            {QStringLiteral("cloudId"), model.cloudId.value_or(QString())},
            {QStringLiteral("fits"), fits},
            {QStringLiteral("action"), action},
            {QStringLiteral("getLabel"), getLabel(model.sizeGB)},
            {QStringLiteral("needsLabel"), QStringLiteral("Needs %1GB").arg(model.minRamGB)},
            {QStringLiteral("cloudEnabled"), cloudEnabled},
            {QStringLiteral("cloudLabel"),
             cloudEnabled ? QString::fromUtf16(u"\u2713 Cloud") : QStringLiteral("Add cloud")},
        });
    }
    return rows;
}

QVariantList ModelsSheetController::installedRows() const
{
    QVariantList rows;
    if (!m_session)
        return rows;
    const QList<OllamaModel> models = m_session->models();
    for (const OllamaModel &model : models) {
        rows.append(QVariantMap{
            {QStringLiteral("name"), model.name},
            {QStringLiteral("tools"), model.tools},
            {QStringLiteral("releaseLabel"), m_session->releaseLabel(model).value_or(QString())},
            {QStringLiteral("size"), gigabytes(model.sizeBytes, 1)},
        });
    }
    return rows;
}

QString ModelsSheetController::totalInstalled() const
{
    return totalInstalled(m_session ? m_session->models() : QList<OllamaModel>());
}

QVariantList ModelsSheetController::cloudResults() const
{
    QVariantList rows;
    if (!m_session)
        return rows;
    const QStringList enabled = m_session->enabledCloudIDs();
    const QList<CloudModel> matches = matchingCloud(m_session->cloudCatalog(), m_search);
    for (const CloudModel &model : matches) {
        rows.append(QVariantMap{
            {QStringLiteral("id"), model.id},
            {QStringLiteral("name"), model.name},
            {QStringLiteral("added"), enabled.contains(model.id)},
        });
    }
    return rows;
}

QString ModelsSheetController::searchPlaceholder() const
{
    const qsizetype count = m_session ? m_session->cloudCatalog().size() : 0;
    return QStringLiteral("Search %1 cloud models").arg(count) + QChar(0x2026);
}

bool ModelsSheetController::catalogEmpty() const
{
    return !m_session || m_session->cloudCatalog().isEmpty();
}

bool ModelsSheetController::catalogRetry() const
{
    return catalogEmpty() && m_session && m_session->catalogFailed();
}

QString ModelsSheetController::catalogNote() const
{
    if (!catalogEmpty())
        return QString();
    if (catalogRetry())
        return QStringLiteral("The cloud models couldn't be loaded.");
    const DravlinAccount *account = m_session ? m_session->account() : nullptr;
    if (account && account->signedIn())
        return QStringLiteral("No cloud models are offered right now.");
    return QStringLiteral("Sign in to browse cloud models.");
}

std::optional<OllamaModel> ModelsSheetController::installed(const QString &name) const
{
    if (!m_session)
        return std::nullopt;
    const QList<OllamaModel> models = m_session->models();
    for (const OllamaModel &model : models) {
        if (model.name == name)
            return model;
    }
    return std::nullopt;
}

QString ModelsSheetController::removalTitle() const
{
    const std::optional<OllamaModel> model = installed(m_confirmingRemove);
    return model ? removalTitle(*model) : QString();
}

void ModelsSheetController::requestRemove(const QString &name)
{
    // Removing mid-drawing could pull the model out from under the run.
    if (!installed(name) || m_session->running() || m_confirmingRemove == name)
        return;
    m_confirmingRemove = name;
    Q_EMIT confirmingRemoveChanged();
}

void ModelsSheetController::confirmRemove()
{
    const QString name = m_confirmingRemove;
    cancelRemove();
    if (!name.isEmpty() && m_session && m_session->downloads())
        m_session->downloads()->remove(name);
}

void ModelsSheetController::cancelRemove()
{
    if (m_confirmingRemove.isEmpty())
        return;
    m_confirmingRemove.clear();
    Q_EMIT confirmingRemoveChanged();
}
