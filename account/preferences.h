#pragma once

#include <QString>
#include <QVariant>

// The process-wide preferences store ("Dravlin"/"Dravlin": on macOS the app's user-defaults domain).
// Every read returns the stored value or the caller's default; nothing is cached, so two windows
// always see the same choice. With DRAVLIN_HOME set (the demo, the tests) the preferences are the
// file Dravlin.conf in that folder and the app's data lives in its data/ folder, on every platform:
// the Mac's defaults and Library folders ignore HOME.
namespace Preferences {
// The settings file, or on macOS the defaults domain's property list.
QString fileName();
// Where the app keeps its own data (the history).
QString dataFolder();
QVariant value(const QString &key, const QVariant &defaultValue = {});
void setValue(const QString &key, const QVariant &value);
void remove(const QString &key);
// Makes a folder (0700) or file (0600) of ours readable by its owner alone; the settings hold the
// user's name and e-mail, the history what they drew. Nothing happens to a path that is not there.
void keepPrivate(const QString &path);
} // namespace Preferences
