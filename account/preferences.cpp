#include "account/preferences.h"

#include <QFileInfo>
#include <QSettings>

#include <functional>

namespace {
void write(const std::function<void(QSettings &)> &change)
{
    QSettings settings(QStringLiteral("Dravlin"), QStringLiteral("Dravlin"));
    change(settings);
#ifndef Q_OS_MACOS
    // The Mac's defaults system keeps its own files private; elsewhere it is an ordinary file.
    settings.sync();
    Preferences::keepPrivate(QFileInfo(settings.fileName()).path());
    Preferences::keepPrivate(settings.fileName());
#endif
}
} // namespace

QVariant Preferences::value(const QString &key, const QVariant &defaultValue)
{
    return QSettings(QStringLiteral("Dravlin"), QStringLiteral("Dravlin")).value(key, defaultValue);
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
