#include "session/downloads.h"

#include "base/logging.h"

#include "session/catalog.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

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

Downloads *Downloads::shared()
{
    static QPointer<Downloads> instance;
    if (!instance) {
        // Parented to the application, so its transfers close before the network goes away.
        instance = new Downloads(QCoreApplication::instance());
    }
    return instance;
}

Downloads::Downloads(QObject *parent) : QAbstractListModel(parent), m_client(new OllamaClient(this)) {}

Downloads::~Downloads()
{
    // The tasks are children and go with us; cancelling first keeps their signals quiet.
    for (PullTask *task : std::as_const(m_tasks))
        task->cancel();
}

int Downloads::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant Downloads::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows.at(index.row());
    switch (role) {
    case NameRole:
        return row.name;
    case FractionRole:
        return row.fraction;
    case PercentRole:
        // Whole percent, never 100 before the download has really ended (the server's own counts
        // may say more, or less than nothing).
        return QStringLiteral("%1%").arg(qBound(0, int(qBound(0.0, row.fraction, 1.0) * 100), 99));
    default:
        return {};
    }
}

QHash<int, QByteArray> Downloads::roleNames() const
{
    return {{NameRole, "name"}, {FractionRole, "fraction"}, {PercentRole, "percent"}};
}

QMap<QString, double> Downloads::pulling() const
{
    QMap<QString, double> map;
    for (const Row &row : m_rows)
        map.insert(row.name, row.fraction);
    return map;
}

QStringList Downloads::names() const
{
    QStringList list;
    for (const Row &row : m_rows)
        list.append(row.name);
    return list;
}

qsizetype Downloads::rowOf(const QString &name) const
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).name == name)
            return i;
    }
    return -1;
}

void Downloads::setFraction(const QString &name, double fraction)
{
    // A line that arrives after the download ended never brings it back.
    const qsizetype at = rowOf(name);
    if (at < 0)
        return;
    m_rows[at].fraction = fraction;
    const QModelIndex changed = index(int(at));
    Q_EMIT dataChanged(changed, changed, {FractionRole, PercentRole});
}

bool Downloads::removeRow(const QString &name)
{
    const qsizetype at = rowOf(name);
    if (at < 0)
        return false;
    beginRemoveRows(QModelIndex(), int(at), int(at));
    m_rows.removeAt(at);
    endRemoveRows();
    Q_EMIT countChanged();
    return true;
}

void Downloads::setPullError(const std::optional<QString> &error)
{
    if (m_pullError == error)
        return;
    m_pullError = error;
    if (error)
        qCWarning(lcSession).noquote() << *error;
    Q_EMIT pullErrorChanged();
}

void Downloads::dismissError()
{
    setPullError(std::nullopt);
}

void Downloads::pull(const QString &name)
{
    if (name.isEmpty() || rowOf(name) >= 0)
        return;
    beginInsertRows(QModelIndex(), int(m_rows.size()), int(m_rows.size()));
    m_rows.append(Row{name, 0.0});
    endInsertRows();
    Q_EMIT countChanged();
    setPullError(std::nullopt);

    auto *task = new PullTask(name, this);
    m_tasks.insert(name, task);
    task->watcher.setInterval(m_installPollMs);
    connect(&task->watcher, &QTimer::timeout, task, [this, task] { pollInstalled(task); });
    QTimer::singleShot(0, task, [this, task] {
        // Stopped before its first turn (cancelled at once, or the application quitting): a
        // transfer started now would run on with nobody to end it.
        if (task->cancelled)
            return;
        task->watcher.start();
        PullStream *stream = m_client->pull(task->name, task);
        task->stream = stream;
        connect(stream, &PullStream::progress, this,
                [this, name = task->name](double fraction) { setFraction(name, fraction); });
        connect(stream, &PullStream::finished, this, [this, task](const std::optional<OllamaError> &error) {
            task->stopWatcher();
            if (!error) {
                finishPull(task->name);
                return;
            }
            if (task->cancelled)
                return;
            if (m_tasks.value(task->name) == task) {
                m_tasks.remove(task->name);
                task->deleteLater();
            }
            removeRow(task->name);
            setPullError(tr("Couldn't get %1: %2").arg(task->name, error->description()));
        });
    });
}

void Downloads::pollInstalled(PullTask *task)
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
                if (!error && Catalog::installedFamilies(models).contains(task->family)) {
                    finishPull(task->name);
                    return;
                }
                task->watcher.start();
            });
}

void Downloads::endTask(const QString &name)
{
    if (PullTask *task = m_tasks.take(name)) {
        task->cancel();
        task->deleteLater();
    }
}

void Downloads::finishPull(const QString &name)
{
    if (!removeRow(name))
        return;
    endTask(name);
    QTimer::singleShot(0, this, &Downloads::installedChanged);
}

void Downloads::reconcile(const QList<OllamaModel> &installed)
{
    if (m_rows.isEmpty())
        return;
    const QSet<QString> families = Catalog::installedFamilies(installed);
    const QStringList running = names();
    for (const QString &name : running) {
        if (families.contains(Catalog::familyName(name)))
            finishPull(name);
    }
}

void Downloads::cancelPull(const QString &name)
{
    // Too late once the download has ended: the model it installed stays.
    if (rowOf(name) < 0)
        return;
    endTask(name);
    removeRow(name);
    // Whatever the server has of it so far goes too; whether that works does not matter.
    DeleteModelJob *job = m_client->deleteModel(name, this);
    connect(job, &DeleteModelJob::finished, job, &QObject::deleteLater);
}

void Downloads::stopAll()
{
    const QStringList running = names();
    for (const QString &name : running) {
        endTask(name);
        removeRow(name);
    }
}

void Downloads::remove(const QString &name)
{
    DeleteModelJob *job = m_client->deleteModel(name, this);
    connect(job, &DeleteModelJob::finished, this, [this, job, name](const std::optional<OllamaError> &error) {
        job->deleteLater();
        if (error)
            setPullError(tr("Couldn't remove %1: %2").arg(name, error->description()));
        // Refreshed either way, so the lists show what the server really has.
        Q_EMIT installedChanged();
    });
}
