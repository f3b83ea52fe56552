#include "app/updatealert.h"

UpdateAlert AppUpdater::alertFor(const UpdateCheck &check, const QString &running)
{
    switch (check.outcome) {
    case UpdateCheck::Newer:
        return {QStringLiteral("Dravlin ") + check.update.version + QStringLiteral(" is available"),
                QStringLiteral("You're on ") + running + QStringLiteral(". Download the update?"),
                {QStringLiteral("Download"), QStringLiteral("Later")},
                check.update.url};
    case UpdateCheck::UpToDate:
        return {QStringLiteral("You're up to date"),
                QStringLiteral("Dravlin ") + running + QStringLiteral(" is the latest version."),
                {QStringLiteral("OK")},
                {}};
    case UpdateCheck::Failed:
        break;
    }
    // Saying "up to date" here would report a failure as success.
    return {QStringLiteral("Couldn't check for updates"),
            check.reason.isEmpty() ? QStringLiteral("The reply was not understood.") : check.reason,
            {QStringLiteral("OK")},
            {}};
}
