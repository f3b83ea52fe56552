#include "ui/rowsmodel.h"

RowsModel::RowsModel(const QByteArrayList &roles, QObject *parent)
    : QAbstractListModel(parent), m_roles(roles)
{}

void RowsModel::setRows(const QList<QVariantList> &rows)
{
    const auto key = [](const QVariantList &row) {
        return row.isEmpty() ? QVariant() : row.first();
    };
    // The rows that kept their place at either end are compared in place; the ones between are
    // replaced. A download that ends, a model added or a search narrowed is one such run.
    qsizetype head = 0;
    while (head < m_rows.size() && head < rows.size() && key(m_rows[head]) == key(rows[head]))
        ++head;
    qsizetype tail = 0;
    while (tail < m_rows.size() - head && tail < rows.size() - head &&
           key(m_rows[m_rows.size() - 1 - tail]) == key(rows[rows.size() - 1 - tail]))
        ++tail;

    const qsizetype oldCount = m_rows.size();
    const qsizetype removed = oldCount - head - tail;
    const qsizetype added = rows.size() - head - tail;
    if (removed > 0) {
        beginRemoveRows({}, int(head), int(head + removed - 1));
        m_rows.remove(head, removed);
        endRemoveRows();
    }
    if (added > 0) {
        beginInsertRows({}, int(head), int(head + added - 1));
        m_rows.insert(head, added, QVariantList());
        for (qsizetype i = head; i < head + added; ++i)
            m_rows[i] = rows[i];
        endInsertRows();
    }
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (m_rows[i] == rows[i])
            continue;
        m_rows[i] = rows[i];
        Q_EMIT dataChanged(index(int(i)), index(int(i)));
    }
    if (m_rows.size() != oldCount)
        Q_EMIT countChanged();
}

QVariant RowsModel::value(int row, const QByteArray &role) const
{
    const qsizetype column = m_roles.indexOf(role);
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_rows[row].size())
        return {};
    return m_rows[row][column];
}

int RowsModel::indexOf(const QVariant &key) const
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (!m_rows[i].isEmpty() && m_rows[i].first() == key)
            return int(i);
    }
    return -1;
}

int RowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant RowsModel::data(const QModelIndex &index, int role) const
{
    const int column = role - (Qt::UserRole + 1);
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        column < 0 || column >= m_rows[index.row()].size())
        return {};
    return m_rows[index.row()][column];
}

QHash<int, QByteArray> RowsModel::roleNames() const
{
    QHash<int, QByteArray> names;
    for (qsizetype i = 0; i < m_roles.size(); ++i)
        names.insert(Qt::UserRole + 1 + int(i), m_roles[i]);
    return names;
}
