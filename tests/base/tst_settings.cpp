#include "base/settings.h"
#include "testenvironment.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

// Users' settings files outlive versions: each preference reads what earlier versions wrote, under
// the same key and in the same form, and writes it back that way.
class TestSettings : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private Q_SLOTS:
    void init() { Settings::shared().resetForTesting(); }

    // key, what an earlier version stored (invalid: nothing), what the typed property reads.
    void earlierFilesReadTheSame_data()
    {
        columns<QString, QVariant, QString>("key", "stored", "read");
        const auto row = [](const char *key, const QVariant &stored, const char *read) {
            QTest::newRow(qPrintable(QString::fromLatin1(key) + (stored.isValid() ? "" : " unset")))
                << QString::fromLatin1(key) << stored << QString::fromUtf8(read);
        };
        row("DravlinPayWith", QVariant(), "credits");
        row("DravlinPayWith", "key", "key");
        row("DravlinPublishLocal", QVariant(), "true");
        row("DravlinPublishLocal", false, "false");
        row("DravlinEnabledCloud", QVariant(), "");
        row("DravlinEnabledCloud", "a/x,,b/y,", "a/x|b/y");
        row("DravlinExamplesDismissed", true, "true");
        row("DravlinPauseAnimations", QVariant(), "system");
        row("DravlinPauseAnimations", false, "false");
        row("DravlinExportFolder", "/home/ada/Pictures", "/home/ada/Pictures");
        row("DravlinWindowFrame", QRect(10, 20, 1180, 760), "10,20 1180x760");
        row("DravlinUsername", QVariant(), "none");
        row("DravlinUsername", "", "");
        row("DravlinEmail", "ada@example.org", "ada@example.org");
        row("DravlinForgetSignInSession", true, "true");
        row("DravlinBaseURL", "http://127.0.0.1:8123", "http://127.0.0.1:8123");
    }
    void earlierFilesReadTheSame()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        if (stored.isValid())
            QSettings(Settings::fileName(), QSettings::IniFormat).setValue(key, stored);
        const Settings &s = Settings::shared();
        const auto text = [](const std::optional<QString> &value) {
            return value.value_or("none");
        };
        const auto flag = [](bool value) {
            return QString::fromLatin1(value ? "true" : "false");
        };
        const QRect frame = s.windowFrame();
        const QHash<QString, QString> read{
            {"DravlinPayWith", s.payWith()},
            {"DravlinPublishLocal", flag(s.publishLocal())},
            {"DravlinEnabledCloud", s.enabledCloud().join('|')},
            {"DravlinExamplesDismissed", flag(s.examplesDismissed())},
            {"DravlinPauseAnimations", s.pauseAnimations() ? flag(*s.pauseAnimations()) : "system"},
            {"DravlinExportFolder", s.exportFolder()},
            {"DravlinWindowFrame", QStringLiteral("%1,%2 %3x%4")
                                       .arg(frame.x())
                                       .arg(frame.y())
                                       .arg(frame.width())
                                       .arg(frame.height())},
            {"DravlinUsername", text(s.username())},
            {"DravlinEmail", text(s.email())},
            {"DravlinForgetSignInSession", flag(s.forgetSignInSession())},
            {"DravlinBaseURL", text(s.serviceBaseURL())},
        };
        QTEST(read.value(key), "read");
    }

    // Written back in the same form, announced once per change and never for a value that stays.
    void writesKeepTheFormAndAnnounceChanges()
    {
        Settings &s = Settings::shared();
        QSignalSpy cloud(&s, &Settings::enabledCloudChanged);
        QSignalSpy name(&s, &Settings::usernameChanged);
        s.setEnabledCloud({"a/x", "b/y"});
        s.setEnabledCloud({"a/x", "b/y"});
        s.setUsername(QStringLiteral("ada"));
        s.setUsername(std::nullopt);
        s.setForgetSignInSession(false);
        const QSettings file(Settings::fileName(), QSettings::IniFormat);
        QCOMPARE(file.value("DravlinEnabledCloud").toString(), QStringLiteral("a/x,b/y"));
        QVERIFY(!file.contains("DravlinUsername") && !file.contains("DravlinForgetSignInSession"));
        QCOMPARE(cloud.size(), 1);
        QCOMPARE(name.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
