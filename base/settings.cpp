#include "base/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

namespace {
// The stored names, as every earlier version wrote them.
const QString kPayWith = QStringLiteral("DravlinPayWith");
const QString kPublishLocal = QStringLiteral("DravlinPublishLocal");
const QString kEnabledCloud = QStringLiteral("DravlinEnabledCloud");
const QString kExamplesDismissed = QStringLiteral("DravlinExamplesDismissed");
const QString kPauseAnimations = QStringLiteral("DravlinPauseAnimations");
const QString kExportFolder = QStringLiteral("DravlinExportFolder");
const QString kWindowFrame = QStringLiteral("DravlinWindowFrame");
const QString kUsername = QStringLiteral("DravlinUsername");
const QString kEmail = QStringLiteral("DravlinEmail");
const QString kForgetSignInSession = QStringLiteral("DravlinForgetSignInSession");
const QString kBaseURL = QStringLiteral("DravlinBaseURL");

const QString kDefaultPayWith = QStringLiteral("credits");

constexpr bool isMac()
{
#ifdef Q_OS_MACOS
    return true;
#else
    return false;
#endif
}

QString ownHome()
{
    return qEnvironmentVariable("DRAVLIN_HOME");
}

std::unique_ptr<QSettings> open()
{
    const QString home = ownHome();
    if (!home.isEmpty())
        return std::make_unique<QSettings>(QDir(home).filePath(QStringLiteral("Dravlin.conf")),
                                           QSettings::IniFormat);
    return std::make_unique<QSettings>(QStringLiteral("Dravlin"), QStringLiteral("Dravlin"));
}

std::optional<QString> text(const QVariant &value)
{
    return value.isValid() ? std::optional<QString>(value.toString()) : std::nullopt;
}

QVariant variant(const std::optional<QString> &value)
{
    return value ? QVariant(*value) : QVariant();
}
} // namespace

QString Settings::fileName()
{
    return open()->fileName();
}

QString Settings::dataFolder()
{
    const QString home = ownHome();
    if (!home.isEmpty())
        return QDir(home).filePath(QStringLiteral("data"));
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

Settings &Settings::shared()
{
    static Settings settings;
    return settings;
}

QVariant Settings::stored(const QString &key) const
{
    return open()->value(key);
}

void Settings::store(const QString &key, const QVariant &value, void (Settings::*changed)())
{
    const std::unique_ptr<QSettings> settings = open();
    const QVariant before = settings->value(key);
    if (value.isValid())
        settings->setValue(key, value);
    else
        settings->remove(key);
    // The Mac's defaults system keeps its own files private; a file of ours is an ordinary one.
    if (settings->format() != QSettings::NativeFormat || !isMac()) {
        settings->sync();
        keepPrivate(QFileInfo(settings->fileName()).path());
        keepPrivate(settings->fileName());
    }
    // Compared as stored: a bool read back from an ini file is the text "true".
    if (before.isValid() != value.isValid() || before.toString() != value.toString())
        Q_EMIT(this->*changed)();
}

QString Settings::payWith() const
{
    const QString choice = stored(kPayWith).toString();
    return choice.isEmpty() ? kDefaultPayWith : choice;
}

void Settings::setPayWith(const QString &choice)
{
    store(kPayWith, choice, &Settings::payWithChanged);
}

bool Settings::publishLocal() const
{
    const QVariant publish = stored(kPublishLocal);
    return !publish.isValid() || publish.toBool();
}

void Settings::setPublishLocal(bool publish)
{
    store(kPublishLocal, publish, &Settings::publishLocalChanged);
}

QStringList Settings::enabledCloud() const
{
    return stored(kEnabledCloud).toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
}

void Settings::setEnabledCloud(const QStringList &ids)
{
    // An empty list is kept as such: it says the user chose none, not that they never chose.
    store(kEnabledCloud, ids.join(QLatin1Char(',')), &Settings::enabledCloudChanged);
}

bool Settings::examplesDismissed() const
{
    return stored(kExamplesDismissed).toBool();
}

void Settings::setExamplesDismissed(bool dismissed)
{
    store(kExamplesDismissed, dismissed, &Settings::examplesDismissedChanged);
}

std::optional<bool> Settings::pauseAnimations() const
{
    const QVariant value = stored(kPauseAnimations);
    return value.isValid() ? std::optional<bool>(value.toBool()) : std::nullopt;
}

void Settings::setPauseAnimations(bool paused)
{
    store(kPauseAnimations, paused, &Settings::pauseAnimationsChanged);
}

QString Settings::exportFolder() const
{
    return stored(kExportFolder).toString();
}

void Settings::setExportFolder(const QString &folder)
{
    store(kExportFolder, folder, &Settings::exportFolderChanged);
}

QRect Settings::windowFrame() const
{
    return stored(kWindowFrame).toRect();
}

void Settings::setWindowFrame(const QRect &frame)
{
    store(kWindowFrame, frame, &Settings::windowFrameChanged);
}

std::optional<QString> Settings::username() const
{
    return text(stored(kUsername));
}

void Settings::setUsername(const std::optional<QString> &name)
{
    store(kUsername, variant(name), &Settings::usernameChanged);
}

std::optional<QString> Settings::email() const
{
    return text(stored(kEmail));
}

void Settings::setEmail(const std::optional<QString> &email)
{
    store(kEmail, variant(email), &Settings::emailChanged);
}

bool Settings::forgetSignInSession() const
{
    return stored(kForgetSignInSession).toBool();
}

void Settings::setForgetSignInSession(bool forget)
{
    // Nothing is kept once it has been acted on.
    store(kForgetSignInSession, forget ? QVariant(true) : QVariant(), &Settings::forgetSignInSessionChanged);
}

std::optional<QString> Settings::serviceBaseURL() const
{
    return text(stored(kBaseURL));
}

void Settings::setServiceBaseURL(const std::optional<QString> &url)
{
    store(kBaseURL, variant(url), &Settings::serviceBaseURLChanged);
}

void Settings::resetForTesting()
{
    open()->clear();
}

void Settings::keepPrivate(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isSymLink())
        return;
    QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    if (info.isDir())
        owner |= QFile::ExeOwner;
    QFile::setPermissions(path, owner);
}
