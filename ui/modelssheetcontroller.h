#pragma once

#include "models/ollamamodel.h"
#include "session/catalog.h"
#include "ui/rowsmodel.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

class DrawSession;

// The get-models sheet's state and rows. One is made each time the sheet opens, so it starts on
// the local tab with an empty search and nothing awaiting removal; enabled cloud models belong to
// the session, downloads and removals to the application, and all of them outlive it.
class ModelsSheetController : public QObject
{
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(DrawSession *session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(QString tab READ tab WRITE setTab NOTIFY tabChanged)
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(RowsModel *recommendedRows READ recommendedRows CONSTANT)
    Q_PROPERTY(RowsModel *installedRows READ installedRows CONSTANT)
    Q_PROPERTY(QString totalInstalled READ totalInstalled NOTIFY installedRowsChanged)
    Q_PROPERTY(RowsModel *cloudResults READ cloudResults CONSTANT)
    Q_PROPERTY(QString searchPlaceholder READ searchPlaceholder NOTIFY cloudResultsChanged)
    Q_PROPERTY(bool catalogEmpty READ catalogEmpty NOTIFY cloudResultsChanged)
    Q_PROPERTY(QString catalogNote READ catalogNote NOTIFY cloudResultsChanged)
    Q_PROPERTY(bool catalogRetry READ catalogRetry NOTIFY cloudResultsChanged)
    Q_PROPERTY(QString confirmingRemove READ confirmingRemove NOTIFY confirmingRemoveChanged)
    Q_PROPERTY(QString removalTitle READ removalTitle NOTIFY confirmingRemoveChanged)

public:
    explicit ModelsSheetController(QObject *parent = nullptr);

    DrawSession *session() const { return m_session; }
    void setSession(DrawSession *session);
    QString tab() const { return m_tab; }
    void setTab(const QString &tab);
    QString search() const { return m_search; }
    void setSearch(const QString &search);

    // Recommended models, least recently updated last: name, title, updated, its cloud twin,
    // whether it fits this machine, which action it offers ("progress", "get" or "needs") with
    // its labels, and how far its download is. A progress tick changes one row.
    RowsModel *recommendedRows() const { return m_recommendedRows; }
    // Installed models: name, whether it has tools, release label, size.
    RowsModel *installedRows() const { return m_installedRows; }
    QString totalInstalled() const;
    // The cloud catalog's entries matching the search: its id (modelId), name, whether it is added.
    RowsModel *cloudResults() const { return m_cloudResults; }
    QString searchPlaceholder() const;
    bool catalogEmpty() const;
    // Why the cloud tab has nothing to show: the catalog could not be loaded (with a retry), or
    // there is none, which signed out means there is nothing to browse yet.
    QString catalogNote() const;
    bool catalogRetry() const;

    QString confirmingRemove() const { return m_confirmingRemove; }
    QString removalTitle() const;

    // Asks before a model leaves the disk; nothing is removed until confirmRemove().
    Q_INVOKABLE void requestRemove(const QString &name);
    Q_INVOKABLE void confirmRemove();
    Q_INVOKABLE void cancelRemove();

    // ---- the rules, for the rows above and for tests ----
    // By days since the last update, oldest last; a model without that date after all that have
    // one; equal ones keep the catalog's order.
    static QList<RecommendedModel> sortedRecommended(QList<RecommendedModel> models);
    // The catalog entries whose name or id holds the search, ignoring case and the spaces and
    // tabs around it; all of them for an empty search.
    static QList<CloudModel> matchingCloud(const QList<CloudModel> &catalog, const QString &search);
    // "Get 4GB" for a 4.7 GB model: the fraction is dropped.
    static QString getLabel(double sizeGB);
    static QString gigabytes(qint64 bytes, int decimals);
    static QString totalInstalled(const QList<OllamaModel> &models);
    static QString removalTitle(const OllamaModel &model);

Q_SIGNALS:
    void sessionChanged();
    void tabChanged();
    void searchChanged();
    void recommendedRowsChanged();
    void installedRowsChanged();
    void cloudResultsChanged();
    void confirmingRemoveChanged();

private:
    std::optional<OllamaModel> installed(const QString &name) const;
    void updateRecommended();
    void updateInstalled();
    void updateCloud();

    QPointer<DrawSession> m_session;
    QString m_tab = QStringLiteral("local");
    QString m_search;
    QString m_confirmingRemove;
    RowsModel *m_recommendedRows;
    RowsModel *m_installedRows;
    RowsModel *m_cloudResults;
};
