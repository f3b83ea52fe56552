#include "app/updatealert.h"
#include "modelsharness.h"
#include "testenvironment.h"

#include <QTest>

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
        const auto row = [](const char *tag, const QString &a, const QString &b, bool newer) {
            QTest::newRow(tag) << a << b << newer;
        };
        row("1.10 > 1.9", "1.10", "1.9", true);
        row("1.9 < 1.10", "1.9", "1.10", false);
        row("missing pieces are 0", "2", "2.0.0", false);
        row("1.2.1 > 1.2", "1.2.1", "1.2", true);
        row("1.3-beta is 1.0", "1.3-beta", "1.2", false);
        row("+1 is 1", "+1", "0.9", true);
        row("-1 is below 0", "-1", "0", false);
        row("beyond 64 bits is 0", "99999999999999999999", "1", false);
        row("largest 64-bit", "9223372036854775807", "9223372036854775806", true);
        row("empty pieces dropped", "1..2", "1.1", true);
        row("a lone sign is 0", "+.1", "0.0", true);
        row("spaces are not numbers", " 2", "1", false);
        row("anything beats an empty version", "0.0.1", "", true);
        row("non-ASCII digits are not numbers", QString::fromUtf16(u"\u0663"), "1", false);
    }
    void versionsCompareNumberByNumber()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QTEST(AppUpdater::isNewer(a, b), "newer");
    }

    // Every kind of answer to running 1.2: what the interactive check tells the user (message|
    // detail|buttons, "*" for the network layer's own words), what the silent check offers, and
    // where Download leads: only ever a web address, else our own page. A query without a usable
    // answer never claims the app is up to date, and no query carries the sign-in token.
    void eachAnswerHasOneOutcome_data()
    {
        QTest::addColumn<QByteArray>("reply"); // null: nothing answers
        QTest::addColumn<QString>("alert");
        QTest::addColumn<QString>("download");
        const auto row = [](const char *tag, const char *reply, const QString &alert, const char *download) {
            QTest::newRow(tag) << QByteArray(reply) << alert << QString(download);
        };
        const QString newer = "Dravlin 2.0 is available|You're on 1.2. Download the update?|Download,Later";
        const QString upToDate = "You're up to date|Dravlin 1.2 is the latest version.|OK";
        const QString failed = "Couldn't check for updates|The reply was not understood.|OK";
        row("newer", "{\"version\":\"2.0\",\"url\":\"https://dl.example/d.dmg\"}", newer,
            "https://dl.example/d.dmg");
        row("http url", "{\"version\":\"2.0\",\"url\":\"http://dl.example/x\"}", newer,
            "http://dl.example/x");
        row("no url", R"({"version":"2.0"})", newer, "own page");
        row("url not a string", R"({"version":"2.0","url":5})", newer, "own page");
        row("not a URL", R"({"version":"2.0","url":"::::"})", newer, "own page");
        row("a local file", "{\"version\":\"2.0\",\"url\":\"file:///etc/passwd\"}", newer, "own page");
        row("a script", R"j({"version":"2.0","url":"javascript:alert(1)"})j", newer, "own page");
        row("relative", R"({"version":"2.0","url":"/download"})", newer, "own page");
        row("same version", R"({"version":"1.2"})", upToDate, "");
        row("trailing zeros", R"({"version":"1.2.0.0"})", upToDate, "");
        row("older", R"({"version":"1.1.9"})", upToDate, "");
        row("no version", "{\"url\":\"https://x.example\"}", failed, "");
        row("version a number", R"({"version":3})", failed, "");
        row("not JSON", "<html>busy</html>", failed, "");
        row("unreachable", nullptr, "Couldn't check for updates|*|OK", "");
    }
    void eachAnswerHasOneOutcome()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, alert);
        QFETCH(QString, download);
        ModelsHarness h;
        Keychain::set(QStringLiteral("api_token"), QStringLiteral("tok"));
        if (reply.isNull()) {
            Preferences::setValue(QStringLiteral("DravlinBaseURL"), QStringLiteral("http://127.0.0.1:1"));
            ServiceClient::resetBaseURLForTesting();
        }
        h.server.route("GET", "/api/app_version", FakeResponse::json(200, reply));
        QObject context;
        std::optional<UpdateAlert> shown;
        std::optional<std::optional<AppUpdate>> offered;
        AppUpdater::check(QStringLiteral("1.2"), &context, [&](const UpdateCheck &check) {
            shown = AppUpdater::alertFor(check, QStringLiteral("1.2"));
        });
        AppUpdater::latestIfNewer(QStringLiteral("1.2"), &context,
                                  [&](const std::optional<AppUpdate> &update) { offered = update; });
        QTRY_VERIFY_WITH_TIMEOUT(shown && offered, 20000);

        const QStringList expected = alert.split('|');
        QCOMPARE(shown->message, expected[0]);
        if (expected[1] == "*")
            QVERIFY(!shown->informative.isEmpty() && !shown->informative.contains(QLatin1String("latest")));
        else
            QCOMPARE(shown->informative, expected[1]);
        QCOMPARE(shown->buttons.join(','), expected[2]);
        const QUrl url =
            download == "own page" ? QUrl(h.server.url().toString() + "/download/mac") : QUrl(download);
        QCOMPARE(shown->download, url);
        QCOMPARE(offered->value_or(AppUpdate()).url, url);
        for (const RecordedRequest &request : h.server.requests())
            QVERIFY(request.header("Authorization").isNull());
    }
};

QTEST_GUILESS_MAIN(TestAppUpdater)
#include "tst_appupdater.moc"
