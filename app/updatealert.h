#pragma once

#include "account/appupdater.h"

#include <QString>
#include <QStringList>
#include <QUrl>

// The alert the interactive check shows: a message, the detail under it, and its buttons, the
// first one being the default.
struct UpdateAlert
{
    QString message;
    QString informative;
    QStringList buttons;
    // Opened when the first button is chosen; empty when that button only closes the alert.
    QUrl download;
};

namespace AppUpdater {

// What the interactive check tells the user about a check against the running version.
UpdateAlert alertFor(const UpdateCheck &check, const QString &running);

} // namespace AppUpdater
