#include "account/appupdater.h"

#include "account/serviceclient.h"

#include <QCoreApplication>
#include <QJsonObject>

namespace {

qint64 pieceValue(const QString &piece)
{
    qsizetype at = 0;
    if (piece.startsWith(QLatin1Char('+')) || piece.startsWith(QLatin1Char('-')))
        at = 1;
    if (at == piece.size())
        return 0;
    for (qsizetype i = at; i < piece.size(); ++i) {
        if (piece[i] < QLatin1Char('0') || piece[i] > QLatin1Char('9'))
            return 0;
    }
    bool ok = false;
    const qint64 value = piece.toLongLong(&ok, 10);
    return ok ? value : 0; // beyond 64 bits
}

QString notUnderstood()
{
    return QCoreApplication::translate("AppUpdater", "The reply was not understood.");
}

QList<qint64> versionPieces(const QString &version)
{
    QList<qint64> pieces;
    const QStringList parts = version.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    for (const QString &part : parts)
        pieces.append(pieceValue(part));
    return pieces;
}

} // namespace

QString AppUpdater::current()
{
    const QString version = QStringLiteral(DRAVLIN_VERSION);
    return version.isEmpty() ? QStringLiteral("0") : version;
}

bool AppUpdater::isNewer(const QString &a, const QString &b)
{
    const QList<qint64> left = versionPieces(a);
    const QList<qint64> right = versionPieces(b);
    const qsizetype length = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < length; ++i) {
        const qint64 x = left.value(i, 0);
        const qint64 y = right.value(i, 0);
        if (x != y)
            return x > y;
    }
    return false;
}

void AppUpdater::latestIfNewer(QObject *context, std::function<void(const std::optional<AppUpdate> &)> done)
{
    latestIfNewer(current(), context, std::move(done));
}

void AppUpdater::latestIfNewer(const QString &running, QObject *context,
                               std::function<void(const std::optional<AppUpdate> &)> done)
{
    check(running, context, [done](const UpdateCheck &result) {
        done(result.outcome == UpdateCheck::Newer ? std::optional(result.update) : std::nullopt);
    });
}

UpdateCheck AppUpdater::read(const JsonReply &reply, const QString &running)
{
    if (!reply.received)
        return UpdateCheck{UpdateCheck::Failed, {}, reply.errorDescription};
    const QJsonValue version = reply.object ? reply.object->value(QStringLiteral("version")) : QJsonValue();
    if (!version.isString())
        return UpdateCheck{UpdateCheck::Failed, {}, notUnderstood()};
    if (!isNewer(version.toString(), running))
        return UpdateCheck{UpdateCheck::UpToDate, {}, {}};
    const QJsonValue address = reply.object->value(QStringLiteral("url"));
    QUrl url = address.isString() ? ServiceClient::webAddress(address.toString()) : QUrl();
    if (url.isEmpty())
        url = ServiceClient::endpoint(QString::fromLatin1(ServicePages::download));
    return UpdateCheck{UpdateCheck::Newer, AppUpdate{version.toString(), url}, {}};
}

void AppUpdater::check(const QString &running, QObject *context,
                       std::function<void(const UpdateCheck &)> done)
{
    JsonReplyJob *job = JsonReplyJob::send(ServiceCalls::latestAppVersion, context);
    if (!job) {
        done(UpdateCheck{UpdateCheck::Failed, {}, notUnderstood()});
        return;
    }
    QObject::connect(job, &JsonReplyJob::finished, context,
                     [running, done](const JsonReply &reply) { done(read(reply, running)); });
}
