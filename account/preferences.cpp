#include "account/preferences.h"

#include <QSettings>

QVariant Preferences::value(const QString &key, const QVariant &defaultValue)
{
    return QSettings(QStringLiteral("Dravlin"), QStringLiteral("Dravlin")).value(key, defaultValue);
}

void Preferences::setValue(const QString &key, const QVariant &value)
{
    QSettings(QStringLiteral("Dravlin"), QStringLiteral("Dravlin")).setValue(key, value);
}

void Preferences::remove(const QString &key)
{
    QSettings(QStringLiteral("Dravlin"), QStringLiteral("Dravlin")).remove(key);
}
