#include "session/modelcatalog.h"

#include "account/dravlinaccount.h"
#include "account/serviceclient.h"
#include "base/logging.h"
#include "base/settings.h"
#include "models/ollamaclient.h"
#include "net/replyjob.h"
#include "session/downloads.h"

#include <QHash>

#include <algorithm>
#include <unistd.h>

namespace {
int physicalMemoryGB()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return int((quint64(pages) * quint64(pageSize)) >> 30);
}
} // namespace

ModelCatalog::ModelCatalog(OllamaClient *client, Downloads *downloads, QObject *parent)
    : QObject(parent), m_client(client), m_downloads(downloads), m_ramGB(physicalMemoryGB())
{
    // A download that ends, in this window or another, changes what this window lists.
    if (downloads)
        connect(downloads, &Downloads::installedChanged, this,
                [this] { refreshModels([this] { refreshRecommended(); }); });
    // Enabling a cloud model in one window offers it in every window.
    connect(&Settings::shared(), &Settings::enabledCloudChanged, this, [this] {
        Q_EMIT cloudModelsChanged();
        Q_EMIT selectionDetailsChanged();
    });
}

// ---- installed models ----

void ModelCatalog::setInstalled(const QList<OllamaModel> &models)
{
    if (m_installed == models)
        return;
    m_installed = models;
    Q_EMIT installedChanged();
    Q_EMIT selectionDetailsChanged();
}

void ModelCatalog::setOllamaUp(bool up)
{
    if (m_ollamaUp == up)
        return;
    m_ollamaUp = up;
    Q_EMIT ollamaUpChanged();
}

void ModelCatalog::refreshModels(std::function<void()> done)
{
    ListModelsJob *job = m_client->listModels(this);
    connect(job, &ListModelsJob::finished, this,
            [this, job, done](const QList<OllamaModel> &models, const std::optional<OllamaError> &error) {
                job->deleteLater();
                if (error) {
                    qCWarning(lcSession).noquote()
                        << "listing the local models failed:" << error->description();
                    setOllamaUp(false);
                    setInstalled({});
                } else {
                    // Judged by the list the selection was made from: an "owner/model:tag" that has
                    // just been removed was a local model, not a cloud one.
                    const bool cloud = isCloudModel(m_selected);
                    setInstalled(models);
                    setOllamaUp(true);
                    if (m_downloads)
                        m_downloads->reconcile(m_installed);
                    const bool keep = !m_selected.isEmpty() && (cloud || isInstalled(m_selected));
                    if (!keep)
                        setSelectedModel(m_installed.isEmpty() ? QString() : m_installed.first().name);
                }
                Q_EMIT modelsRefreshed();
                if (done)
                    done();
            });
}

bool ModelCatalog::isInstalled(const QString &name) const
{
    return std::any_of(m_installed.cbegin(), m_installed.cend(),
                       [&name](const OllamaModel &model) { return model.name == name; });
}

// ---- the service's catalog ----

void ModelCatalog::setCatalogFailed(bool failed)
{
    if (m_catalogFailed == failed)
        return;
    m_catalogFailed = failed;
    Q_EMIT catalogFailedChanged();
}

void ModelCatalog::refreshRecommended(std::function<void()> done)
{
    QNetworkReply *reply = ServiceClient::send(ServiceCalls::recommendedModels);
    if (!reply) {
        setCatalogFailed(true);
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
                if (!payload)
                    qCWarning(lcSession) << "the model catalog could not be loaded"
                                         << (failure ? "(no answer)" : "(an unusable document)");
                setCatalogFailed(!payload);
                if (payload)
                    takeCatalog(*payload);
                Q_EMIT recommendedRefreshed();
                if (done)
                    done();
            });
}

void ModelCatalog::takeCatalog(const CatalogPayload &payload)
{
    QMap<QString, RecommendedModel> byFamily;
    for (const RecommendedModel &model : payload.models) {
        const QString family = Catalog::familyName(model.name);
        if (!byFamily.contains(family))
            byFamily.insert(family, model);
    }
    const QSet<QString> installed = Catalog::installedFamilies(m_installed);
    QList<RecommendedModel> recommended;
    for (const RecommendedModel &model : payload.models) {
        if (!installed.contains(Catalog::familyName(model.name)))
            recommended.append(model);
    }
    m_localByFamily = byFamily;
    m_recommended = recommended;
    m_cloudCatalog = payload.cloudCatalog;
    m_featuredCloud = payload.featuredCloud;
    Q_EMIT recommendedChanged();
    Q_EMIT cloudModelsChanged();
    Q_EMIT selectionDetailsChanged();
    const QList<CloudModel> offered = cloudModels();
    if (m_selected.isEmpty() && !offered.isEmpty())
        setSelectedModel(offered.first().id);
}

std::optional<QString> ModelCatalog::releaseLabel(const OllamaModel &model) const
{
    const auto entry = m_localByFamily.constFind(Catalog::familyName(model.name));
    if (entry == m_localByFamily.cend())
        return std::nullopt;
    return entry->releaseLabel();
}

// ---- cloud models and favourites ----

QStringList ModelCatalog::enabledCloudIDs() const
{
    return Settings::shared().enabledCloud();
}

QList<CloudModel> ModelCatalog::cloudModels() const
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

void ModelCatalog::toggleCloud(const QString &id)
{
    QStringList ids = enabledCloudIDs();
    const qsizetype at = ids.indexOf(id);
    if (at >= 0)
        ids.removeAt(at);
    else
        ids.append(id);
    Settings::shared().setEnabledCloud(ids);
    pushFavorites();
}

void ModelCatalog::loadFavorites(std::function<void()> done)
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
            Settings::shared().setEnabledCloud(*ids);
            if (isCloudModel(m_selected)) {
                const QList<CloudModel> offered = cloudModels();
                const bool stillOffered =
                    std::any_of(offered.cbegin(), offered.cend(),
                                [this](const CloudModel &m) { return m.id == m_selected; });
                if (!stillOffered)
                    setSelectedModel(!m_installed.isEmpty() ? m_installed.first().name
                                     : !offered.isEmpty()   ? offered.first().id
                                                            : QString());
            }
        }
        Q_EMIT favoritesLoaded();
        if (done)
            done();
    });
}

void ModelCatalog::pushFavorites()
{
    if (!m_account || !m_account->signedIn())
        return;
    // The list as it is now, not as it may be when the request goes out.
    m_account->saveFavorites(enabledCloudIDs(), this);
}

void ModelCatalog::setAccount(DravlinAccount *account)
{
    if (m_account == account)
        return;
    if (m_account)
        m_account->disconnect(this);
    m_account = account;
    if (!account)
        return;
    connect(account, &DravlinAccount::signedInChanged, this, [this] {
        if (m_account && m_account->signedIn())
            loadFavorites(nullptr);
    });
}

// ---- the selection ----

void ModelCatalog::setSelectedModel(const QString &model)
{
    if (m_selected == model)
        return;
    m_selected = model;
    Q_EMIT selectedModelChanged();
    Q_EMIT selectionDetailsChanged();
}

bool ModelCatalog::isCloudModel(const QString &id) const
{
    return !isInstalled(id) && id.contains(QLatin1Char('/'));
}

bool ModelCatalog::isVisionModel(const QString &id) const
{
    if (isCloudModel(id)) {
        const QList<CloudModel> offered = cloudModels();
        const auto found = std::find_if(offered.cbegin(), offered.cend(),
                                        [&id](const CloudModel &model) { return model.id == id; });
        return found != offered.cend() && found->vision.value_or(false);
    }
    const auto found = std::find_if(m_installed.cbegin(), m_installed.cend(),
                                    [&id](const OllamaModel &model) { return model.name == id; });
    return found != m_installed.cend() && found->vision;
}

QString ModelCatalog::modelLabel(const QString &id) const
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
