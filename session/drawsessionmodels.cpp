// The session's model lists and downloads: what is installed, what the service recommends and
// offers, which cloud models the user enabled, and downloads into the local server.
#include "account/appupdater.h"
#include "account/dravlinaccount.h"
#include "account/preferences.h"
#include "account/serviceclient.h"
#include "session/drawsession.h"

#include <QTimer>

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

QSet<QString> installedFamilies(const QList<OllamaModel> &models)
{
    QSet<QString> families;
    for (const OllamaModel &model : models)
        families.insert(Catalog::familyName(model.name));
    return families;
}
} // namespace

// One download: the transfer and the watcher that notices the model installed even when the
// transfer's stream never ends cleanly. Stopping it stops both and nothing is reported after.
class PullTask : public QObject
{
public:
    PullTask(const QString &modelName, QObject *parent)
        : QObject(parent), name(modelName), family(Catalog::familyName(modelName))
    {
        watcher.setSingleShot(true);
    }

    void cancel()
    {
        cancelled = true;
        stopWatcher();
        if (stream)
            stream->cancel();
    }

    void stopWatcher()
    {
        watcher.stop();
        if (listing)
            listing->cancel();
    }

    const QString name;
    const QString family;
    QPointer<PullStream> stream;
    QPointer<ListModelsJob> listing;
    QTimer watcher;
    bool cancelled = false;
};

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

QVariantMap DrawSession::pullingForView() const
{
    QVariantMap map;
    for (auto it = m_pulling.cbegin(); it != m_pulling.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

// ---- installed models ----

void DrawSession::setOllamaUp(bool up)
{
    if (m_ollamaUp == up)
        return;
    m_ollamaUp = up;
    emit ollamaUpChanged();
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
                    reconcilePulls();
                    const bool keep = !m_selectedModel.isEmpty() && (cloud || isInstalled(m_selectedModel));
                    if (!keep)
                        setSelectedModel(m_models.isEmpty() ? QString() : m_models.first().name);
                }
                emit modelsRefreshed();
                if (done)
                    done();
            });
}

// ---- the catalog ----

void DrawSession::refreshRecommended(std::function<void()> done)
{
    QNetworkReply *reply = ServiceClient::send(ServiceCalls::recommendedModels);
    if (!reply) {
        emit recommendedRefreshed();
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
                if (payload) {
                    QMap<QString, RecommendedModel> byFamily;
                    for (const RecommendedModel &model : payload->models) {
                        const QString family = Catalog::familyName(model.name);
                        if (!byFamily.contains(family))
                            byFamily.insert(family, model);
                    }
                    const QSet<QString> installed = installedFamilies(m_models);
                    QList<RecommendedModel> recommended;
                    for (const RecommendedModel &model : payload->models) {
                        if (!installed.contains(Catalog::familyName(model.name)))
                            recommended.append(model);
                    }
                    m_localByFamily = byFamily;
                    emit localByFamilyChanged();
                    m_recommended = recommended;
                    emit recommendedChanged();
                    m_cloudCatalog = payload->cloudCatalog;
                    emit cloudCatalogChanged();
                    m_featuredCloud = payload->featuredCloud;
                    emit featuredCloudChanged();
                    emit cloudModelsChanged();
                    emit selectionDetailsChanged();
                    const QList<CloudModel> offered = cloudModels();
                    if (m_selectedModel.isEmpty() && !offered.isEmpty())
                        setSelectedModel(offered.first().id);
                }
                emit recommendedRefreshed();
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
    emit enabledCloudChanged();
    emit cloudModelsChanged();
    emit selectionDetailsChanged();
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
        emit favoritesLoaded();
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
            emit enabledCloudChanged();
            emit cloudModelsChanged();
            emit selectionDetailsChanged();
        }
        emit favoritesLoaded();
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

// ---- downloads ----

void DrawSession::setPullError(const std::optional<QString> &error)
{
    if (m_pullError == error)
        return;
    m_pullError = error;
    emit pullErrorChanged();
}

void DrawSession::pull(const QString &name)
{
    if (m_pulling.contains(name))
        return;
    m_pulling.insert(name, 0.0);
    emit pullingChanged();
    setPullError(std::nullopt);

    auto *task = new PullTask(name, this);
    m_pullTasks.insert(name, task);
    task->watcher.setInterval(m_installPollMs);
    connect(&task->watcher, &QTimer::timeout, task, [this, task] { pollInstalled(task); });
    QTimer::singleShot(0, task, [this, task] {
        task->watcher.start();
        PullStream *stream = m_client->pull(task->name, task);
        task->stream = stream;
        connect(stream, &PullStream::progress, this, [this, name = task->name](double fraction) {
            // A line that arrives after the download ended never brings it back.
            auto entry = m_pulling.find(name);
            if (entry == m_pulling.end())
                return;
            *entry = fraction;
            emit pullingChanged();
        });
        connect(stream, &PullStream::finished, this, [this, task](const std::optional<OllamaError> &error) {
            task->stopWatcher();
            if (!error) {
                finishPull(task->name);
                return;
            }
            if (task->cancelled)
                return;
            if (m_pullTasks.value(task->name) == task) {
                m_pullTasks.remove(task->name);
                task->deleteLater();
            }
            if (m_pulling.remove(task->name) > 0)
                emit pullingChanged();
            setPullError(QStringLiteral("Couldn't get %1: %2").arg(task->name, error->description()));
        });
    });
}

void DrawSession::pollInstalled(PullTask *task)
{
    if (task->cancelled)
        return;
    ListModelsJob *listing = m_client->listModels(task);
    task->listing = listing;
    connect(listing, &ListModelsJob::finished, task,
            [this, task, listing](const QList<OllamaModel> &models, const std::optional<OllamaError> &error) {
                listing->deleteLater();
                if (task->cancelled)
                    return;
                if (!error && installedFamilies(models).contains(task->family)) {
                    finishPull(task->name);
                    return;
                }
                task->watcher.start();
            });
}

void DrawSession::endPullTask(const QString &name)
{
    if (PullTask *task = m_pullTasks.take(name)) {
        task->cancel();
        task->deleteLater();
    }
}

void DrawSession::finishPull(const QString &name)
{
    if (!m_pulling.contains(name))
        return;
    m_pulling.remove(name);
    emit pullingChanged();
    endPullTask(name);
    QTimer::singleShot(0, this, [this] { refreshAll(); });
}

void DrawSession::reconcilePulls()
{
    if (m_pulling.isEmpty())
        return;
    const QSet<QString> installed = installedFamilies(m_models);
    const QStringList names = m_pulling.keys();
    for (const QString &name : names) {
        if (installed.contains(Catalog::familyName(name)))
            finishPull(name);
    }
}

void DrawSession::cancelPull(const QString &name)
{
    // Too late once the download has ended: the model it installed stays.
    if (!m_pulling.contains(name))
        return;
    endPullTask(name);
    if (m_pulling.remove(name) > 0)
        emit pullingChanged();
    // Whatever the server has of it so far goes too; whether that works does not matter.
    DeleteModelJob *job = m_client->deleteModel(name, this);
    connect(job, &DeleteModelJob::finished, job, &QObject::deleteLater);
}

void DrawSession::remove(const QString &name)
{
    DeleteModelJob *job = m_client->deleteModel(name, this);
    connect(job, &DeleteModelJob::finished, this, [this, job, name](const std::optional<OllamaError> &error) {
        job->deleteLater();
        if (error)
            setPullError(QStringLiteral("Couldn't remove %1: %2").arg(name, error->description()));
        // Refreshed either way, so the lists show what the server really has.
        refreshAll();
    });
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
            emit updateVersionChanged();
        }
        emit updateChecked();
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
