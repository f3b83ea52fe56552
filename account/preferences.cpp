#include "account/preferences.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <functional>
#include <memory>

namespace {
QString ownHome()
{
    return qEnvironmentVariable("DRAVLIN_HOME");
}

std::unique_ptr<QSettings> openSettings()
{
    const QString home = ownHome();
    if (!home.isEmpty())
        return std::make_unique<QSettings>(QDir(home).filePath(QStringLiteral("Dravlin.conf")),
                                           QSettings::IniFormat);
    return std::make_unique<QSettings>(QStringLiteral("Dravlin"), QStringLiteral("Dravlin"));
}

void write(const std::function<void(QSettings &)> &change)
{
    const std::unique_ptr<QSettings> settings = openSettings();
    change(*settings);
#ifdef Q_OS_MACOS
    // The Mac's defaults system keeps its own files private; a file of ours is an ordinary one.
    if (settings->format() == QSettings::NativeFormat)
        return;
#endif
    settings->sync();
    Preferences::keepPrivate(QFileInfo(settings->fileName()).path());
    Preferences::keepPrivate(settings->fileName());
}
} // namespace

QString Preferences::fileName()
{
    return openSettings()->fileName();
}

QString Preferences::dataFolder()
{
    const QString home = ownHome();
    if (!home.isEmpty())
        return QDir(home).filePath(QStringLiteral("data"));
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QVariant Preferences::value(const QString &key, const QVariant &defaultValue)
{
    return openSettings()->value(key, defaultValue);
}

void Preferences::setValue(const QString &key, const QVariant &value)
{
    write([&](QSettings &settings) { settings.setValue(key, value); });
}

void Preferences::remove(const QString &key)
{
    write([&](QSettings &settings) { settings.remove(key); });
}

void Preferences::keepPrivate(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isSymLink())
        return;
    QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    if (info.isDir())
        owner |= QFile::ExeOwner;
    QFile::setPermissions(path, owner);
}
