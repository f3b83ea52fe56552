#pragma once

#include "models/ollamaclient.h"
#include "models/ollamamodel.h"

#include <QAbstractListModel>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <optional>

class PullTask;

// The application's downloads into the local model server. A download of many gigabytes belongs
// to the application, not to the window that started it: every window shows the same downloads,
// closing a window leaves them running, and a finished one refreshes every window's lists.
//
// As a list, one row per running download (name, fraction), in the order they started; a progress
// tick changes one row.
class Downloads : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application's downloads are shared by every window.")

    // name → fraction, for views that look one model up by name.
    Q_PROPERTY(QString pullError READ pullErrorOrEmpty NOTIFY pullErrorChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role { NameRole = Qt::UserRole + 1, FractionRole, PercentRole };

    // The one every window shares, made on first use and gone with the application.
    static Downloads *shared();

    explicit Downloads(QObject *parent = nullptr);
    ~Downloads() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    OllamaClient *client() const { return m_client; }
    // How often a running download checks whether its model has appeared (5 s).
    void setInstallPollIntervalMs(int ms) { m_installPollMs = ms; }

    QMap<QString, double> pulling() const;
    int count() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.isEmpty(); }
    QStringList names() const;
    std::optional<QString> pullError() const { return m_pullError; }
    bool hasPullTask(const QString &name) const { return m_tasks.contains(name); }

    // Starts downloading a model unless it is already downloading; returns at once.
    Q_INVOKABLE void pull(const QString &name);
    // Stops a download and asks the server to delete what it has of that model.
    Q_INVOKABLE void cancelPull(const QString &name);
    // Deletes an installed model; every window's lists are refreshed afterwards, even on failure.
    Q_INVOKABLE void remove(const QString &name);
    // The user has read the last failure.
    Q_INVOKABLE void dismissError();
    // Ends every download whose family the listing shows as installed.
    void reconcile(const QList<OllamaModel> &installed);
    // Closes every transfer without deleting anything (quitting): the server keeps what it has,
    // so getting the model again resumes.
    void stopAll();

Q_SIGNALS:
    void pullErrorChanged();
    void countChanged();
    // A model arrived or left the server: whoever lists installed models should list them again.
    void installedChanged();

private:
    QString pullErrorOrEmpty() const { return m_pullError.value_or(QString()); }
    qsizetype rowOf(const QString &name) const;
    void setFraction(const QString &name, double fraction);
    bool removeRow(const QString &name);
    void setPullError(const std::optional<QString> &error);
    void finishPull(const QString &name);
    void endTask(const QString &name);
    void pollInstalled(PullTask *task);

    struct Row
    {
        QString name;
        double fraction = 0;
    };
    QList<Row> m_rows;
    QHash<QString, PullTask *> m_tasks;
    std::optional<QString> m_pullError;
    OllamaClient *m_client;
    int m_installPollMs = 5000;
};
