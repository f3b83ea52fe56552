#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// Every stored preference of the process, one typed property each ("Dravlin"/"Dravlin": on macOS
// the app's user-defaults domain). Reads go to the store each time, so every window sees the same
// choice; a write that changes a value announces it once, to every window. With DRAVLIN_HOME set
// (the demo, the tests) the preferences are the file Dravlin.conf in that folder and the app's
// data lives in its data/ folder, on every platform: the Mac's defaults and Library folders
// ignore HOME.
//
// The stored keys and formats are the ones earlier versions wrote: a user's file keeps working.
class Settings : public QObject
{
    Q_OBJECT

    Q_PROPERTY(QString payWith READ payWith WRITE setPayWith NOTIFY payWithChanged)
    Q_PROPERTY(bool publishLocal READ publishLocal WRITE setPublishLocal NOTIFY publishLocalChanged)
    Q_PROPERTY(QStringList enabledCloud READ enabledCloud WRITE setEnabledCloud NOTIFY enabledCloudChanged)
    Q_PROPERTY(bool examplesDismissed READ examplesDismissed WRITE setExamplesDismissed NOTIFY
                   examplesDismissedChanged)
    Q_PROPERTY(QString exportFolder READ exportFolder WRITE setExportFolder NOTIFY exportFolderChanged)
    Q_PROPERTY(QRect windowFrame READ windowFrame WRITE setWindowFrame NOTIFY windowFrameChanged)
    Q_PROPERTY(bool forgetSignInSession READ forgetSignInSession WRITE setForgetSignInSession NOTIFY
                   forgetSignInSessionChanged)

public:
    static Settings &shared();
    // The settings file, or on macOS the defaults domain's property list.
    static QString fileName();
    // Where the app keeps its own data (the history).
    static QString dataFolder();

    // How cloud drawings are paid: "credits" (the default) or "openrouter".
    QString payWith() const;
    void setPayWith(const QString &choice);
    // Whether a signed-in user's local drawings are published; on unless turned off.
    bool publishLocal() const;
    void setPublishLocal(bool publish);
    // The cloud models the user enabled, in their order (stored joined with ",").
    QStringList enabledCloud() const;
    void setEnabledCloud(const QStringList &ids);
    bool examplesDismissed() const;
    void setExamplesDismissed(bool dismissed);
    // Whether animations stand still; none until the user has chosen, when the system decides.
    std::optional<bool> pauseAnimations() const;
    void setPauseAnimations(bool paused);
    // Where exports were last saved; empty until the first.
    QString exportFolder() const;
    void setExportFolder(const QString &folder);
    // Where the last window closed; a null rect until one has.
    QRect windowFrame() const;
    void setWindowFrame(const QRect &frame);

    // The signed-in user as the service last named them; none once signed out.
    std::optional<QString> username() const;
    void setUsername(const std::optional<QString> &name);
    std::optional<QString> email() const;
    void setEmail(const std::optional<QString> &email);
    // Set by signing out: the next sign-in window starts without the web session's cookies.
    bool forgetSignInSession() const;
    void setForgetSignInSession(bool forget);
    // The service's origin, for a stand-in or a staging service; none means the real one.
    std::optional<QString> serviceBaseURL() const;
    void setServiceBaseURL(const std::optional<QString> &url);

    // Makes a folder (0700) or file (0600) of ours readable by its owner alone; the settings hold
    // the user's name and e-mail, the history what they drew. Nothing happens to a path that is
    // not there.
    static void keepPrivate(const QString &path);

    // Forgets every stored preference (tests start from a user who never chose anything).
    void resetForTesting();

Q_SIGNALS:
    void payWithChanged();
    void publishLocalChanged();
    void enabledCloudChanged();
    void examplesDismissedChanged();
    void pauseAnimationsChanged();
    void exportFolderChanged();
    void windowFrameChanged();
    void usernameChanged();
    void emailChanged();
    void forgetSignInSessionChanged();
    void serviceBaseURLChanged();

private:
    Settings() = default;
    QVariant stored(const QString &key) const;
    // Writes (or with an invalid value removes) key, and emits changed when the stored value moved.
    void store(const QString &key, const QVariant &value, void (Settings::*changed)());
};
