#pragma once

#include <QString>
#include <QVariant>

// The process-wide preferences store ("Dravlin"/"Dravlin": on macOS the app's user-defaults domain).
// Every read returns the stored value or the caller's default; nothing is cached, so two windows
// always see the same choice.
namespace Preferences {
QVariant value(const QString &key, const QVariant &defaultValue = {});
void setValue(const QString &key, const QVariant &value);
void remove(const QString &key);
} // namespace Preferences
