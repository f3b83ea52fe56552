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

ModelsSheetController::ModelsSheetController(QObject *parent)
    : QObject(parent),
      m_recommendedRows(new RowsModel({"name", "title", "updated", "cloudId", "fits", "action", "getLabel",
                                       "needsLabel", "cloudEnabled", "cloudLabel", "fraction"},
                                      this)),
      m_installedRows(new RowsModel({"name", "tools", "releaseLabel", "size"}, this)),
      m_cloudResults(new RowsModel({"modelId", "name", "added"}, this))
{
    connect(this, &ModelsSheetController::recommendedRowsChanged, this,
            &ModelsSheetController::updateRecommended);
    connect(this, &ModelsSheetController::installedRowsChanged, this,
            &ModelsSheetController::updateInstalled);
    connect(this, &ModelsSheetController::cloudResultsChanged, this, &ModelsSheetController::updateCloud);
}

void ModelsSheetController::setSession(DrawSession *session)
{
    if (m_session == session)
        return;
    if (m_session) {
        disconnect(m_session->catalog(), nullptr, this, nullptr);
        if (m_session->downloads())
            disconnect(m_session->downloads(), nullptr, this, nullptr);
    }
    m_session = session;
    if (session) {
        const ModelCatalog *catalog = session->catalog();
        for (auto signal : {&ModelCatalog::recommendedChanged, &ModelCatalog::cloudModelsChanged})
            connect(catalog, signal, this, &ModelsSheetController::recommendedRowsChanged);
        // A download that starts, moves or ends changes its row alone.
        if (Downloads *downloads = session->downloads()) {
            connect(downloads, &Downloads::countChanged, this,
                    &ModelsSheetController::recommendedRowsChanged);
            connect(downloads, &Downloads::dataChanged, this, &ModelsSheetController::recommendedRowsChanged);
        }
        for (auto signal : {&ModelCatalog::installedChanged, &ModelCatalog::recommendedChanged})
            connect(catalog, signal, this, &ModelsSheetController::installedRowsChanged);
        for (auto signal : {&ModelCatalog::recommendedChanged, &ModelCatalog::cloudModelsChanged,
                            &ModelCatalog::catalogFailedChanged})
            connect(catalog, signal, this, &ModelsSheetController::cloudResultsChanged);
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
    return tr("Get %1GB").arg(whole);
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
    return tr("%1 on disk").arg(gigabytes(total, 0));
}

QString ModelsSheetController::removalTitle(const OllamaModel &model)
{
    return tr("Remove %1? Frees %2 — you can always re-download it.")
        .arg(model.name, gigabytes(model.sizeBytes, 1));
}

void ModelsSheetController::updateRecommended()
{
    QList<QVariantList> rows;
    if (m_session) {
        const ModelCatalog *catalog = m_session->catalog();
        const QMap<QString, double> pulling =
            m_session->downloads() ? m_session->downloads()->pulling() : QMap<QString, double>();
        const QStringList enabled = catalog->enabledCloudIDs();
        const QList<RecommendedModel> models = sortedRecommended(catalog->recommended());
        for (const RecommendedModel &model : models) {
            const bool fits = catalog->ramGB() >= model.minRamGB;
            const QString action = pulling.contains(model.name) ? QStringLiteral("progress")
                                   : fits                       ? QStringLiteral("get")
                                                                : QStringLiteral("needs");
            const bool cloudEnabled = model.cloudId && enabled.contains(*model.cloudId);
            rows.append({model.name,
                         model.displayName && !model.displayName->isEmpty() ? *model.displayName : model.name,
                         model.updated.value_or(QString()), model.cloudId.value_or(QString()), fits, action,
                         getLabel(model.sizeGB), tr("Needs %1GB").arg(model.minRamGB), cloudEnabled,
                         cloudEnabled ? tr("✓ Cloud") : tr("Add cloud"), pulling.value(model.name, 0.0)});
        }
    }
    m_recommendedRows->setRows(rows);
}

void ModelsSheetController::updateInstalled()
{
    QList<QVariantList> rows;
    if (m_session) {
        const QList<OllamaModel> models = m_session->catalog()->installed();
        for (const OllamaModel &model : models)
            rows.append({model.name, model.tools,
                         m_session->catalog()->releaseLabel(model).value_or(QString()),
                         gigabytes(model.sizeBytes, 1)});
    }
    m_installedRows->setRows(rows);
}

QString ModelsSheetController::totalInstalled() const
{
    return totalInstalled(m_session ? m_session->catalog()->installed() : QList<OllamaModel>());
}

void ModelsSheetController::updateCloud()
{
    QList<QVariantList> rows;
    if (m_session) {
        const QStringList enabled = m_session->catalog()->enabledCloudIDs();
        const QList<CloudModel> matches = matchingCloud(m_session->catalog()->cloudCatalog(), m_search);
        for (const CloudModel &model : matches)
            rows.append({model.id, model.name, enabled.contains(model.id)});
    }
    m_cloudResults->setRows(rows);
}

QString ModelsSheetController::searchPlaceholder() const
{
    const qsizetype count = m_session ? m_session->catalog()->cloudCatalog().size() : 0;
    return tr("Search %1 cloud models…").arg(count);
}

bool ModelsSheetController::catalogEmpty() const
{
    return !m_session || m_session->catalog()->cloudCatalog().isEmpty();
}

bool ModelsSheetController::catalogRetry() const
{
    return catalogEmpty() && m_session && m_session->catalog()->catalogFailed();
}

QString ModelsSheetController::catalogNote() const
{
    if (!catalogEmpty())
        return QString();
    if (catalogRetry())
        return tr("The cloud models couldn't be loaded.");
    const DravlinAccount *account = m_session ? m_session->account() : nullptr;
    if (account && account->signedIn())
        return tr("No cloud models are offered right now.");
    return tr("Sign in to browse cloud models.");
}

std::optional<OllamaModel> ModelsSheetController::installed(const QString &name) const
{
    if (!m_session)
        return std::nullopt;
    const QList<OllamaModel> models = m_session->catalog()->installed();
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
