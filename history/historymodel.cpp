#include "history/historymodel.h"

#include "session/drawsession.h"

#include <QLocale>

HistoryModel::HistoryModel(QObject *parent) : QAbstractListModel(parent)
{
    setStore(HistoryStore::shared());
}

void HistoryModel::setStore(HistoryStore *store)
{
    if (m_store)
        disconnect(m_store, nullptr, this, nullptr);
    m_store = store;
    if (m_store)
        connect(m_store, &HistoryStore::changed, this, &HistoryModel::reload);
    reload();
}

void HistoryModel::setSearch(const QString &search)
{
    if (m_search == search)
        return;
    m_search = search;
    Q_EMIT searchChanged();
    reload();
}

void HistoryModel::reload()
{
    beginResetModel();
    m_rows.clear();
    m_more = m_store && m_store->isOn();
    endResetModel();
    // The first screen is there at once; the view asks for more as it scrolls.
    fetchMore({});
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

bool HistoryModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && m_more;
}

void HistoryModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || !m_more || !m_store)
        return;
    const QList<HistoryEntry> page = m_store->page(m_search, int(m_rows.size()), kPageSize);
    m_more = page.size() == kPageSize;
    if (page.isEmpty()) {
        Q_EMIT countChanged();
        return;
    }
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + page.size() - 1));
    for (const HistoryEntry &entry : page) {
        Row row{entry, QString()};
        if (!entry.thumbnail.isEmpty())
            row.thumbnailUrl =
                QStringLiteral("data:image/png;base64,") + QString::fromLatin1(entry.thumbnail.toBase64());
        row.entry.thumbnail.clear();
        m_rows.append(std::move(row));
    }
    endInsertRows();
    Q_EMIT countChanged();
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows.at(index.row());
    switch (role) {
    case IdRole:
        return row.entry.id;
    case Qt::DisplayRole:
    case PromptRole:
        return row.entry.prompt;
    case ModelRole:
        return row.entry.model;
    case ModeRole:
        return row.entry.mode;
    case DateRole:
        return dateText(row.entry.createdAt.toLocalTime(), QDateTime::currentDateTime());
    case DurationRole:
        return row.entry.durationMs > 0 ? DrawSession::formatDuration(double(row.entry.durationMs) / 1000.0)
                                        : QString();
    case ThumbnailRole:
        return row.thumbnailUrl;
    default:
        return {};
    }
}

QHash<int, QByteArray> HistoryModel::roleNames() const
{
    return {{IdRole, "entryId"},         {PromptRole, "prompt"}, {ModelRole, "model"},
            {ModeRole, "mode"},          {DateRole, "dateText"}, {DurationRole, "duration"},
            {ThumbnailRole, "thumbnail"}};
}

QString HistoryModel::dateText(const QDateTime &at, const QDateTime &now)
{
    const QString time = at.time().toString(QStringLiteral("HH:mm"));
    const qint64 days = at.date().daysTo(now.date());
    if (days == 0)
        return tr("Today %1").arg(time);
    if (days == 1)
        return tr("Yesterday %1").arg(time);
    //: The date of an older drawing, as QLocale writes dates: 3 Dec 2026, 18:40
    return QLocale().toString(at, tr("d MMM yyyy, HH:mm"));
}
