#include "app/updatealert.h"
#include "modelsharness.h"
#include "testenvironment.h"

#include <QTest>

namespace {
std::optional<AppUpdate> askService(const QString &running)
{
    QObject context;
    std::optional<AppUpdate> result;
    bool done = false;
    QSignalSpy spy(&context, &QObject::objectNameChanged);
    AppUpdater::latestIfNewer(running, &context, [&](const std::optional<AppUpdate> &update) {
        result = update;
        done = true;
        context.setObjectName(QStringLiteral("done"));
    });
    if (!done && !spy.wait(20000))
        qWarning("the update check did not finish");
    return result;
}
} // namespace

class TestAppUpdater : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    void versionsCompareNumberByNumber_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("newer");
        QTest::newRow("1.10 > 1.9") << "1.10"
                                    << "1.9" << true;
        QTest::newRow("1.9 < 1.10") << "1.9"
                                    << "1.10" << false;
        QTest::newRow("2 = 2.0.0") << "2"
                                   << "2.0.0" << false;
        QTest::newRow("2.0.0 = 2") << "2.0.0"
                                   << "2" << false;
        QTest::newRow("1.2.1 > 1.2") << "1.2.1"
                                     << "1.2" << true;
        QTest::newRow("1.3-beta is 1.0") << "1.3-beta"
                                         << "1.2" << false;
        QTest::newRow("equal") << "1.4.2"
                               << "1.4.2" << false;
        QTest::newRow("+1 is 1") << "+1"
                                 << "0.9" << true;
        QTest::newRow("-1 is below 0") << "-1"
                                       << "0" << false;
        QTest::newRow("0 is above -1") << "0"
                                       << "-1" << true;
        QTest::newRow("beyond 64 bits is 0") << "99999999999999999999"
                                             << "1" << false;
        QTest::newRow("largest 64-bit") << "9223372036854775807"
                                        << "9223372036854775806" << true;
        QTest::newRow("empty pieces dropped") << "1..2"
                                              << "1.1" << true;
        QTest::newRow("a lone sign is 0") << "+.1"
                                          << "0.0" << true;
        QTest::newRow("spaces are not numbers") << " 2"
                                                << "1" << false;
        QTest::newRow("anything beats an empty version") << "0.0.1"
                                                         << "" << true;
        QTest::newRow("running 0: any non-zero part is newer") << "0.0.0.1"
                                                               << "0" << true;
        QTest::newRow("non-ASCII digits are not numbers") << QString::fromUtf16(u"\u0663") << "1" << false;
    }
    void versionsCompareNumberByNumber()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, newer);
        QCOMPARE(AppUpdater::isNewer(a, b), newer);
    }

    void theRunningVersionIsTheBuilds()
    {
        QCOMPARE(AppUpdater::current(), QStringLiteral(DRAVLIN_VERSION));
        QVERIFY(!AppUpdater::current().isEmpty());
    }

    void theServiceIsAskedWithoutCredentials()
    {
        ModelsHarness h;
        Keychain::set(QStringLiteral("api_token"), QStringLiteral("tok"));
        h.server.route("GET", "/api/app_version",
                       FakeResponse::json(200, "{\"version\":\"9.0\",\"url\":\"https://dl.example/d.dmg\"}"));
        const auto update = askService(QStringLiteral("1.0"));
        QVERIFY(update);
        QCOMPARE(update->version, QStringLiteral("9.0"));
        QCOMPARE(update->url, QUrl("https://dl.example/d.dmg"));
        QVERIFY(h.server.requests().last().header("Authorization").isNull());
        Keychain::remove(QStringLiteral("api_token"));
    }

    // Only a web address is ever offered for download; anything else falls back to our own page.
    void theDownloadAddressIsAWebAddress_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ownPage");
        QTest::newRow("http url") << QByteArray("{\"version\":\"2.0\",\"url\":\"http://dl.example/x\"}")
                                  << false;
        QTest::newRow("no url") << QByteArray(R"({"version":"2.0"})") << true;
        QTest::newRow("url not a string") << QByteArray(R"({"version":"2.0","url":5})") << true;
        QTest::newRow("not a URL") << QByteArray(R"({"version":"2.0","url":"::::"})") << true;
        QTest::newRow("a local file")
            << QByteArray("{\"version\":\"2.0\",\"url\":\"file:///etc/passwd\"}") << true;
        QTest::newRow("a script") << QByteArray(R"j({"version":"2.0","url":"javascript:alert(1)"})j") << true;
        QTest::newRow("relative") << QByteArray(R"({"version":"2.0","url":"/download"})") << true;
    }
    void theDownloadAddressIsAWebAddress()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, ownPage);
        ModelsHarness h;
        h.server.route("GET", "/api/app_version", FakeResponse::json(500, reply));
        const auto update = askService(QStringLiteral("1.0"));
        QVERIFY(update);
        if (ownPage)
            QCOMPARE(update->url, QUrl(h.server.url().toString() + "/download/mac"));
        else
            QCOMPARE(update->url.scheme(), QStringLiteral("http"));
    }

    void noNewerVersionMeansNothing_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("same version") << QByteArray(R"({"version":"1.2"})");
        QTest::newRow("trailing zeros") << QByteArray(R"({"version":"1.2.0.0"})");
        QTest::newRow("older") << QByteArray(R"({"version":"1.1.9"})");
        QTest::newRow("no version") << QByteArray("{\"url\":\"https://x.example\"}");
        QTest::newRow("version a number") << QByteArray(R"({"version":3})");
        QTest::newRow("not JSON") << QByteArray("<html>");
    }
    void noNewerVersionMeansNothing()
    {
        QFETCH(QByteArray, reply);
        ModelsHarness h;
        h.server.route("GET", "/api/app_version", FakeResponse::json(200, reply));
        QCOMPARE(askService(QStringLiteral("1.2")).has_value(), false);
    }

    // What the interactive check says: a newer version offers the download, an equal one says so,
    // and a query that got no usable answer never claims the app is up to date.
    void theInteractiveCheckSaysWhatHappened_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("informative");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("newer") << QByteArray("{\"version\":\"1.3\",\"url\":\"https://dl.example/d\"}")
                               << "Dravlin 1.3 is available"
                               << "You're on 1.2. Download the update?" << QStringList{"Download", "Later"};
        QTest::newRow("same") << QByteArray(R"({"version":"1.2.0"})") << "You're up to date"
                              << "Dravlin 1.2 is the latest version." << QStringList{"OK"};
        QTest::newRow("no version") << QByteArray(R"({"latest":"1.3"})") << "Couldn't check for updates"
                                    << "The reply was not understood." << QStringList{"OK"};
        QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << "Couldn't check for updates"
                                  << "The reply was not understood." << QStringList{"OK"};
        QTest::newRow("unreachable") << QByteArray() << "Couldn't check for updates" << QString()
                                     << QStringList{"OK"};
    }
    void theInteractiveCheckSaysWhatHappened()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, informative);
        ModelsHarness h;
        if (reply.isNull()) {
            Preferences::setValue(QStringLiteral("DravlinBaseURL"), QStringLiteral("http://127.0.0.1:1"));
            ServiceClient::resetBaseURLForTesting();
        } else {
            h.server.route("GET", "/api/app_version", FakeResponse::json(200, reply));
        }
        QObject context;
        std::optional<UpdateAlert> alert;
        AppUpdater::check(QStringLiteral("1.2"), &context, [&](const UpdateCheck &check) {
            alert = AppUpdater::alertFor(check, QStringLiteral("1.2"));
        });
        QTRY_VERIFY_WITH_TIMEOUT(alert.has_value(), 20000);
        QTEST(alert->message, "message");
        QTEST(alert->buttons, "buttons");
        if (informative.isEmpty()) // the network layer's own words, whatever they are
            QVERIFY(!alert->informative.isEmpty() && !alert->informative.contains(QLatin1String("latest")));
        else
            QCOMPARE(alert->informative, informative);
        QCOMPARE(alert->download.isEmpty(), alert->buttons.size() == 1);
    }

    void anUnreachableServiceMeansNothing()
    {
        ModelsHarness h;
        Preferences::setValue(QStringLiteral("DravlinBaseURL"), QStringLiteral("http://127.0.0.1:1"));
        ServiceClient::resetBaseURLForTesting();
        QCOMPARE(askService(QStringLiteral("0")).has_value(), false);
    }

    void theSessionRemembersANewerVersion()
    {
        ModelsHarness h;
        h.server.route("GET", "/api/app_version", FakeResponse::json(200, R"({"version":"999.0"})"));
        QSignalSpy checked(h.session, &DrawSession::updateChecked);
        h.session->checkForUpdate();
        QVERIFY(checked.wait());
        QCOMPARE(h.session->updateVersion(), std::optional<QString>("999.0"));
        // A later check that finds nothing leaves it.
        h.server.route("GET", "/api/app_version", FakeResponse::json(200, R"({})"));
        h.session->checkForUpdate();
        QVERIFY(checked.wait());
        QCOMPARE(h.session->updateVersion(), std::optional<QString>("999.0"));
        QCOMPARE(h.session->currentVersion(), AppUpdater::current());
    }
};

QTEST_GUILESS_MAIN(TestAppUpdater)
#include "tst_appupdater.moc"
