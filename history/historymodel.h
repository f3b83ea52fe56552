#pragma once

#include "history/historystore.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// The kept drawings for a list view, newest first, read a screenful at a time as the view scrolls
// (fetchMore), filtered by a search over prompts.
class HistoryModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        PromptRole,
        ModelRole,
        ModeRole,
        DateRole,
        DurationRole,
        ThumbnailRole
    };

    static constexpr int kPageSize = 40;

    explicit HistoryModel(QObject *parent = nullptr);
    // A store other than the process's own (tests, benchmarks).
    void setStore(HistoryStore *store);
    HistoryStore *store() const { return m_store; }

    QString search() const { return m_search; }
    void setSearch(const QString &search);
    int count() const { return int(m_rows.size()); }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // "Today 14:05", "Yesterday 09:12", else "3 Dec 2026, 18:40".
    static QString dateText(const QDateTime &at, const QDateTime &now);

Q_SIGNALS:
    void searchChanged();
    void countChanged();

private:
    struct Row
    {
        HistoryEntry entry;
        QString thumbnailUrl;
    };
    void reload();

    QPointer<HistoryStore> m_store;
    QString m_search;
    QList<Row> m_rows;
    bool m_more = false;
};
