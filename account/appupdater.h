#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

struct JsonReply;

// A newer release the service told us about, and where to get it.
struct AppUpdate
{
    QString version;
    QUrl url;
};

// What one version query found: a newer release, nothing newer, or no usable answer at all.
struct UpdateCheck
{
    enum Outcome { Newer, UpToDate, Failed };
    Outcome outcome = Failed;
    AppUpdate update;
    // Why the query failed, in words for the user.
    QString reason;
};

// Asking the service whether a newer release exists. No state of its own.
namespace AppUpdater {

// The running version ("0" when the build carries none).
QString current();

// Whether version a is newer than b: dot-separated pieces compared as signed 64-bit numbers,
// position by position, a missing position or a piece that is not a plain number counting as 0.
bool isNewer(const QString &a, const QString &b);

// Asks the service for the latest release; calls done with it when it is newer than the running
// version, with nothing on any failure. The request dies with context. done runs exactly once
// unless context goes first.
void latestIfNewer(QObject *context, std::function<void(const std::optional<AppUpdate> &)> done);
// The same against a given running version (tests).
void latestIfNewer(const QString &running, QObject *context,
                   std::function<void(const std::optional<AppUpdate> &)> done);

// What one answer of the service says against the running version: a release is newer only by
// isNewer, and its address is a web address of the answer's or else the service's download page.
UpdateCheck read(const JsonReply &reply, const QString &running);

// Asks the service and tells apart a failed query from an up-to-date app; done runs exactly once
// unless context goes first.
void check(const QString &running, QObject *context, std::function<void(const UpdateCheck &)> done);

} // namespace AppUpdater
