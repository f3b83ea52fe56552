#include "app/updatealert.h"

#include <QCoreApplication>

UpdateAlert AppUpdater::alertFor(const UpdateCheck &check, const QString &running)
{
    switch (check.outcome) {
    case UpdateCheck::Newer:
        return {
            QCoreApplication::translate("AppUpdater", "Dravlin %1 is available").arg(check.update.version),
            QCoreApplication::translate("AppUpdater", "You're on %1. Download the update?").arg(running),
            {QCoreApplication::translate("AppUpdater", "Download"),
             QCoreApplication::translate("AppUpdater", "Later")},
            check.update.url};
    case UpdateCheck::UpToDate:
        return {QCoreApplication::translate("AppUpdater", "You're up to date"),
                QCoreApplication::translate("AppUpdater", "Dravlin %1 is the latest version.").arg(running),
                {QCoreApplication::translate("AppUpdater", "OK")},
                {}};
    case UpdateCheck::Failed:
        break;
    }
    // Saying "up to date" here would report a failure as success.
    return {QCoreApplication::translate("AppUpdater", "Couldn't check for updates"),
            check.reason.isEmpty()
                ? QCoreApplication::translate("AppUpdater", "The reply was not understood.")
                : check.reason,
            {QCoreApplication::translate("AppUpdater", "OK")},
            {}};
}
