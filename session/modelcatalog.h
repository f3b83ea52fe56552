#pragma once

#include "models/ollamamodel.h"
#include "session/catalog.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <optional>

class DravlinAccount;
class Downloads;
class OllamaClient;

// One window's models: what is installed, what the service recommends and offers in the cloud,
// which cloud models the user enabled (kept with the signed-in account as favourites), and which
// model the window draws with next.
class ModelCatalog : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("A window's session makes its catalog.")

    Q_PROPERTY(int installedCount READ installedCount NOTIFY installedChanged)
    Q_PROPERTY(bool ollamaUp READ ollamaUp NOTIFY ollamaUpChanged)
    Q_PROPERTY(bool catalogFailed READ catalogFailed NOTIFY catalogFailedChanged)
    Q_PROPERTY(int ramGB READ ramGB CONSTANT)
    Q_PROPERTY(QString selectedModel READ selectedModel WRITE setSelectedModel NOTIFY selectedModelChanged)
    Q_PROPERTY(QString selectedModelLabel READ selectedModelLabel NOTIFY selectionDetailsChanged)
    Q_PROPERTY(bool selectedIsVision READ selectedIsVision NOTIFY selectionDetailsChanged)
    Q_PROPERTY(bool selectedIsCloud READ selectedIsCloud NOTIFY selectionDetailsChanged)

public:
    ModelCatalog(OllamaClient *client, Downloads *downloads, QObject *parent);

    // ---- installed models ----
    QList<OllamaModel> installed() const { return m_installed; }
    int installedCount() const { return int(m_installed.size()); }
    void setInstalled(const QList<OllamaModel> &models);
    bool ollamaUp() const { return m_ollamaUp; }
    // Refreshes the installed models and whether the local server answers; done runs afterwards.
    Q_INVOKABLE void refreshModels() { refreshModels(nullptr); }
    void refreshModels(std::function<void()> done);

    // ---- the service's catalog ----
    // The recommended local models whose family is not installed yet.
    QList<RecommendedModel> recommended() const { return m_recommended; }
    // The first recommended entry of each family, installed or not.
    QMap<QString, RecommendedModel> localByFamily() const { return m_localByFamily; }
    QList<CloudModel> cloudCatalog() const { return m_cloudCatalog; }
    QStringList featuredCloud() const { return m_featuredCloud; }
    // Whether the last attempt to load the catalog failed (what was loaded before stays).
    bool catalogFailed() const { return m_catalogFailed; }
    // Fetches the recommended and cloud models; nothing changes on failure.
    Q_INVOKABLE void refreshRecommended() { refreshRecommended(nullptr); }
    void refreshRecommended(std::function<void()> done);
    std::optional<QString> releaseLabel(const OllamaModel &model) const;
    // Whole GiB of memory, rounded down.
    int ramGB() const { return m_ramGB; }

    // ---- cloud models and favourites ----
    // The enabled cloud ids, in the user's order.
    QStringList enabledCloudIDs() const;
    // The cloud models offered for drawing: the enabled ones, or the featured ones when none is.
    QList<CloudModel> cloudModels() const;
    Q_INVOKABLE void toggleCloud(const QString &id);
    // Replaces the enabled cloud models with the signed-in account's favourites.
    void loadFavorites(std::function<void()> done);
    // Held weakly: the window owns the account. Signing in brings its favourites along.
    void setAccount(DravlinAccount *account);

    // ---- the selection ----
    QString selectedModel() const { return m_selected; }
    void setSelectedModel(const QString &model);
    QString selectedModelLabel() const { return modelLabel(m_selected); }
    bool selectedIsVision() const { return isVisionModel(m_selected); }
    bool selectedIsCloud() const { return isCloudModel(m_selected); }

    // An installed local model is local whatever its name (the local server allows
    // "owner/model:tag"); any other identifier names a cloud model exactly when it contains "/".
    bool isCloudModel(const QString &id) const;
    bool isVisionModel(const QString &id) const;
    // A cloud model by its catalog name, anything else by its identifier.
    QString modelLabel(const QString &id) const;

Q_SIGNALS:
    void installedChanged();
    void ollamaUpChanged();
    void recommendedChanged();
    void catalogFailedChanged();
    void cloudModelsChanged();
    void selectedModelChanged();
    void selectionDetailsChanged();
    // A refresh has finished (whatever its outcome).
    void modelsRefreshed();
    void recommendedRefreshed();
    void favoritesLoaded();

private:
    bool isInstalled(const QString &name) const;
    void setOllamaUp(bool up);
    void setCatalogFailed(bool failed);
    void takeCatalog(const CatalogPayload &payload);
    void pushFavorites();

    OllamaClient *m_client;
    QPointer<Downloads> m_downloads;
    QPointer<DravlinAccount> m_account;
    QList<OllamaModel> m_installed;
    bool m_ollamaUp = true;
    QList<RecommendedModel> m_recommended;
    QMap<QString, RecommendedModel> m_localByFamily;
    QList<CloudModel> m_cloudCatalog;
    QStringList m_featuredCloud;
    bool m_catalogFailed = false;
    int m_ramGB;
    QString m_selected;
};
