// The session's model lists and downloads: what is installed, what the service recommends and
// offers, which cloud models the user enabled, and downloads into the local server.
#include "account/appupdater.h"
#include "account/dravlinaccount.h"
#include "account/preferences.h"
#include "account/serviceclient.h"
#include "session/drawsession.h"

#include <unistd.h>

namespace {
const QString kEnabledCloudKey = QStringLiteral("DravlinEnabledCloud");

QVariantMap toMap(const OllamaModel &model)
{
    return {{QStringLiteral("name"), model.name},
            {QStringLiteral("tools"), model.tools},
            {QStringLiteral("vision"), model.vision},
            {QStringLiteral("sizeBytes"), model.sizeBytes},
            {QStringLiteral("modifiedAt"), model.modifiedAt}};
}

template<typename T> QVariant optionalValue(const std::optional<T> &value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

QVariantMap toMap(const RecommendedModel &model)
{
    return {{QStringLiteral("name"), model.name},
            {QStringLiteral("sizeGB"), model.sizeGB},
            {QStringLiteral("minRamGB"), model.minRamGB},
            {QStringLiteral("blurb"), model.blurb},
            {QStringLiteral("updated"), optionalValue(model.updated)},
            {QStringLiteral("updatedDays"), optionalValue(model.updatedDays)},
            {QStringLiteral("pulls"), optionalValue(model.pulls)},
            {QStringLiteral("displayName"), optionalValue(model.displayName)},
            {QStringLiteral("cloudId"), optionalValue(model.cloudId)},
            {QStringLiteral("releaseLabel"), optionalValue(model.releaseLabel())}};
}

QVariantMap toMap(const CloudModel &model)
{
    return {{QStringLiteral("id"), model.id},
            {QStringLiteral("name"), model.name},
            {QStringLiteral("vision"), model.vision.value_or(false)},
            {QStringLiteral("created"), optionalValue(model.created)}};
}

template<typename T> QVariantList toList(const QList<T> &items)
{
    QVariantList list;
    list.reserve(items.size());
    for (const T &item : items)
        list.append(toMap(item));
    return list;
}

} // namespace

int physicalMemoryGB()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return int((quint64(pages) * quint64(pageSize)) >> 30);
}

// ---- lists for the views ----

QVariantList DrawSession::modelsForView() const
{
    return toList(m_models);
}

QVariantList DrawSession::recommendedForView() const
{
    return toList(m_recommended);
}

QVariantList DrawSession::cloudCatalogForView() const
{
    return toList(m_cloudCatalog);
}

QVariantList DrawSession::cloudModelsForView() const
{
    return toList(cloudModels());
}

// ---- installed models ----

void DrawSession::setOllamaUp(bool up)
{
    if (m_ollamaUp == up)
        return;
    m_ollamaUp = up;
    Q_EMIT ollamaUpChanged();
}

void DrawSession::refreshModels(std::function<void()> done)
{
    ListModelsJob *job = m_client->listModels(this);
    connect(job, &ListModelsJob::finished, this,
            [this, job, done](const QList<OllamaModel> &models, const std::optional<OllamaError> &error) {
                job->deleteLater();
                if (error) {
                    setOllamaUp(false);
                    setModels({});
                } else {
                    // Judged by the list the selection was made from: an "owner/model:tag" that has
                    // just been removed was a local model, not a cloud one.
                    const bool cloud = isCloudModel(m_selectedModel);
                    setModels(models);
                    setOllamaUp(true);
                    if (m_downloads)
                        m_downloads->reconcile(m_models);
                    const bool keep = !m_selectedModel.isEmpty() && (cloud || isInstalled(m_selectedModel));
                    if (!keep)
                        setSelectedModel(m_models.isEmpty() ? QString() : m_models.first().name);
                }
                Q_EMIT modelsRefreshed();
                if (done)
                    done();
            });
}

// ---- the catalog ----

void DrawSession::refreshRecommended(std::function<void()> done)
{
    QNetworkReply *reply = ServiceClient::send(ServiceCalls::recommendedModels);
    if (!reply) {
        if (!m_catalogFailed) {
            m_catalogFailed = true;
            Q_EMIT catalogFailedChanged();
        }
        Q_EMIT recommendedRefreshed();
        if (done)
            done();
        return;
    }
    auto *job = new ReplyJob(reply, 0, this);
    connect(job, &ReplyJob::finished, this,
            [this, job, done](int, const QByteArray &body, const std::optional<StreamFailure> &failure) {
                job->deleteLater();
                const std::optional<CatalogPayload> payload =
                    failure ? std::nullopt : CatalogPayload::decode(body);
                if (m_catalogFailed != !payload) {
                    m_catalogFailed = !payload;
                    Q_EMIT catalogFailedChanged();
                }
                if (payload) {
                    QMap<QString, RecommendedModel> byFamily;
                    for (const RecommendedModel &model : payload->models) {
                        const QString family = Catalog::familyName(model.name);
                        if (!byFamily.contains(family))
                            byFamily.insert(family, model);
                    }
                    const QSet<QString> installed = Catalog::installedFamilies(m_models);
                    QList<RecommendedModel> recommended;
                    for (const RecommendedModel &model : payload->models) {
                        if (!installed.contains(Catalog::familyName(model.name)))
                            recommended.append(model);
                    }
                    m_localByFamily = byFamily;
                    Q_EMIT localByFamilyChanged();
                    m_recommended = recommended;
                    Q_EMIT recommendedChanged();
                    m_cloudCatalog = payload->cloudCatalog;
                    Q_EMIT cloudCatalogChanged();
                    m_featuredCloud = payload->featuredCloud;
                    Q_EMIT featuredCloudChanged();
                    Q_EMIT cloudModelsChanged();
                    Q_EMIT selectionDetailsChanged();
                    const QList<CloudModel> offered = cloudModels();
                    if (m_selectedModel.isEmpty() && !offered.isEmpty())
                        setSelectedModel(offered.first().id);
                }
                Q_EMIT recommendedRefreshed();
                if (done)
                    done();
            });
}

QString DrawSession::enabledCloudRaw() const
{
    return Preferences::value(kEnabledCloudKey, QString()).toString();
}

QStringList DrawSession::enabledCloudIDs() const
{
    return enabledCloudRaw().split(QLatin1Char(','), Qt::SkipEmptyParts);
}

void DrawSession::setEnabledCloud(const QStringList &ids)
{
    Preferences::setValue(kEnabledCloudKey, ids.join(QLatin1Char(',')));
    // Writing the preference notifies nobody by itself.
    Q_EMIT enabledCloudChanged();
    Q_EMIT cloudModelsChanged();
    Q_EMIT selectionDetailsChanged();
}

QList<CloudModel> DrawSession::cloudModels() const
{
    QHash<QString, CloudModel> byId;
    for (const CloudModel &model : m_cloudCatalog) {
        if (!byId.contains(model.id))
            byId.insert(model.id, model);
    }
    QStringList ids = enabledCloudIDs();
    if (ids.isEmpty())
        ids = m_featuredCloud;
    QList<CloudModel> offered;
    offered.reserve(ids.size());
    for (const QString &id : std::as_const(ids)) {
        // Before the catalog arrives an enabled id is still offered, named by itself.
        offered.append(byId.value(id, CloudModel{id, id, std::nullopt, std::nullopt}));
    }
    return offered;
}

void DrawSession::toggleCloud(const QString &id)
{
    QStringList ids = enabledCloudIDs();
    const qsizetype at = ids.indexOf(id);
    if (at >= 0)
        ids.removeAt(at);
    else
        ids.append(id);
    setEnabledCloud(ids);
    pushFavorites();
}

// ---- favourites ----

void DrawSession::loadFavorites(std::function<void()> done)
{
    if (!m_account || !m_account->signedIn()) {
        Q_EMIT favoritesLoaded();
        if (done)
            done();
        return;
    }
    m_account->fetchFavorites(this, [this, done](const std::optional<QStringList> &ids) {
        if (ids) {
            // The account's list replaces the local one, an empty list included.
            Preferences::setValue(kEnabledCloudKey, ids->join(QLatin1Char(',')));
            if (isCloudModel(m_selectedModel)) {
                QStringList offered = enabledCloudIDs();
                if (offered.isEmpty())
                    offered = m_featuredCloud;
                if (!offered.contains(m_selectedModel)) {
                    const QList<CloudModel> cloud = cloudModels();
                    setSelectedModel(!m_models.isEmpty() ? m_models.first().name
                                     : !cloud.isEmpty()  ? cloud.first().id
                                                         : QString());
                }
            }
            Q_EMIT enabledCloudChanged();
            Q_EMIT cloudModelsChanged();
            Q_EMIT selectionDetailsChanged();
        }
        Q_EMIT favoritesLoaded();
        if (done)
            done();
    });
}

void DrawSession::pushFavorites()
{
    if (!m_account || !m_account->signedIn())
        return;
    // The list as it is now, not as it may be when the request goes out.
    m_account->saveFavorites(enabledCloudIDs(), this);
}

std::optional<QString> DrawSession::releaseLabel(const OllamaModel &model) const
{
    const auto entry = m_localByFamily.constFind(Catalog::familyName(model.name));
    if (entry == m_localByFamily.cend())
        return std::nullopt;
    return entry->releaseLabel();
}

QString DrawSession::releaseLabelFor(const QString &modelName) const
{
    return releaseLabel(OllamaModel{modelName, true, false, 0, {}}).value_or(QString());
}

void DrawSession::refreshAll()
{
    refreshModels([this] { refreshRecommended(); });
}

// ---- updates ----

QString DrawSession::currentVersion() const
{
    return AppUpdater::current();
}

void DrawSession::checkForUpdate()
{
    AppUpdater::latestIfNewer(this, [this](const std::optional<AppUpdate> &update) {
        if (update && m_updateVersion != update->version) {
            m_updateVersion = update->version;
            Q_EMIT updateVersionChanged();
        }
        Q_EMIT updateChecked();
    });
}

// ---- the account ----

void DrawSession::setAccount(DravlinAccount *account)
{
    if (m_account == account)
        return;
    if (m_account)
        m_account->disconnect(this);
    m_account = account;
    if (!account)
        return;
    // Signing in brings the account's favourites along.
    connect(account, &DravlinAccount::signedInChanged, this, [this] {
        if (m_account && m_account->signedIn())
            loadFavorites();
    });
}

DravlinAccount *DrawSession::account() const
{
    return m_account;
}
