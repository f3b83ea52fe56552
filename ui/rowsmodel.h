#pragma once

#include <QAbstractListModel>
#include <QByteArrayList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// A list a view shows, as rows of named values: one role per name, the first naming the row (its
// key). Its owner recomputes the rows whenever their sources change and hands them over whole;
// the model tells the view only what moved: a row that changed in place is one dataChanged, rows
// that came or went are inserted or removed around the rows that stayed, so delegates, the
// current item and the scroll position survive a refresh.
class RowsModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Lists are made by their controllers.")

    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    RowsModel(const QByteArrayList &roles, QObject *parent);

    // Each row holds one value per role, in the roles' order.
    void setRows(const QList<QVariantList> &rows);
    const QList<QVariantList> &rows() const { return m_rows; }
    int count() const { return int(m_rows.size()); }
    // A row's value by role name; an invalid QVariant past the end or for an unknown role.
    QVariant value(int row, const QByteArray &role) const;
    // The first row whose key is key, or -1.
    int indexOf(const QVariant &key) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void countChanged();

private:
    QByteArrayList m_roles;
    QList<QVariantList> m_rows;
};
