#include "account/dravlinaccount.h"
#include "account/keychain.h"
#include "account/preferences.h"
#include "account/serviceclient.h"
#include "fakehttpserver.h"
#include "session/drawsession.h"
#include "testenvironment.h"
#include "ui/contentcontroller.h"
#include "ui/formats.h"
#include "ui/modelssheetcontroller.h"
#include "ui/visiblenarration.h"

#include <QSignalSpy>
#include <QTest>

namespace {
const QByteArray kFeatured = R"({"models":[{"name":"alpha:4b","size_gb":3,"min_ram_gb":8,"blurb":"Small"}],
  "cloud_catalog":[{"id":"vendor/seer","name":"Seer","vision":true},{"id":"vendor/plain","name":"Plain"}],
  "featured_cloud":["vendor/plain","vendor/seer"]})";
const QByteArray kNoneFeatured = R"({"models":[],"cloud_catalog":[{"id":"vendor/seer","name":"Seer"}]})";

// A window's controller with its local server and its service played by one fake server, a fresh
// secret store and fresh preferences.
struct Window
{
    FakeHttpServer server;
    ContentController *content = nullptr;
    QList<QUrl> opened;

    struct Setup
    {
        QByteArray installed = "[]";
        QByteArray catalog = kFeatured;
        bool signedIn = false;
        QString username = {};
        QString email = {};
        bool hasKey = false;
        QByteArray me = R"({"credits":12.5})";
        bool newerVersion = false;
    };

    explicit Window(const Setup &setup)
    {
        Keychain::useInMemoryStoreForTesting();
        for (const char *key : {"DravlinEnabledCloud", "DravlinUsername", "DravlinEmail", "DravlinPayWith",
                                "DravlinExamplesDismissed", "DravlinPublishLocal"})
            Preferences::remove(QString::fromLatin1(key));
        Preferences::setValue(QStringLiteral("DravlinBaseURL"), server.url().toString());
        ServiceClient::resetBaseURLForTesting();
        if (setup.signedIn)
            Keychain::set(QStringLiteral("api_token"), QStringLiteral("tok-1"));
        if (!setup.username.isEmpty())
            Preferences::setValue(QStringLiteral("DravlinUsername"), setup.username);
        if (!setup.email.isEmpty())
            Preferences::setValue(QStringLiteral("DravlinEmail"), setup.email);
        if (setup.hasKey)
            Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("sk-or-1"));
        server.route("GET", "/api/tags", FakeResponse::json(200, R"({"models":)" + setup.installed + "}"));
        server.route("GET", "/api/v1/recommended_models", FakeResponse::json(200, setup.catalog));
        server.route("GET", "/api/v1/favorites", FakeResponse::json(200, R"({"cloud_ids":[]})"));
        server.route("GET", "/api/v1/me", FakeResponse::json(200, setup.me));
        server.route(
            "GET", "/api/app_version",
            FakeResponse::json(200, setup.newerVersion ? R"({"version":"99.0"})" : R"({"version":"0.0.1"})"));
        ContentController::setUrlOpener([this](const QUrl &url) { opened.append(url); });
        content = new ContentController;
        content->session()->client()->setBase(server.url());
    }
    ~Window() { delete content; }

    bool appear()
    {
        QSignalSpy appeared(content, &ContentController::appeared);
        QSignalSpy updateChecked(content->session(), &DrawSession::updateChecked);
        content->appear();
        return appeared.wait(20000) && (!updateChecked.isEmpty() || updateChecked.wait(20000));
    }

    static QStringList texts(const QVariantList &entries)
    {
        QStringList texts;
        for (const QVariant &entry : entries)
            texts.append(entry.toMap().value(QStringLiteral("text")).toString());
        return texts;
    }
};

const QString kGet = QString::fromUtf16(u"Get more models\u2026");
const QString kKey = QString::fromUtf16(u"OpenRouter key\u2026");
const QString kHistory = QString::fromUtf16(u"History\u2026");
} // namespace

class TestContentController : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // After start-up: whether the controls or the onboarding show, the picker's sections, the
    // menu's items and who drawings are published as, for each kind of user.
    void theSidebarFollowsTheUser_data()
    {
        QTest::addColumn<QByteArray>("installed");
        QTest::addColumn<QByteArray>("catalog");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("hasKey");
        QTest::addColumn<bool>("newerVersion");
        QTest::addColumn<bool>("canDraw");
        QTest::addColumn<QStringList>("picker");
        QTest::addColumn<QStringList>("menu");
        QTest::addColumn<QString>("identity");
        QTest::addColumn<QString>("header");

        const QStringList plainMenu{kGet, kKey, kHistory, QString(), "Drawings", "Models"};
        const QStringList signedInMenu{kGet,       kKey,    kHistory, QString(), "Publish local drawings",
                                       "Drawings", "Models"};
        QTest::newRow("a newcomer") << QByteArray("[]") << kFeatured << false << ""
                                    << "" << false << false << false << QStringList() << plainMenu
                                    << "Publishing as you"
                                    << "Prompt";
        QTest::newRow("a local model, signed out")
            << QByteArray(R"([{"name":"alpha:8b"},{"name":"beta:4b"}])") << kFeatured << false << ""
            << "" << false << false << true << QStringList{"On this Mac", "alpha:8b", "beta:4b"} << plainMenu
            << "Publishing as you"
            << "Prompt";
        QTest::newRow("only an OpenRouter key still needs the onboarding")
            << QByteArray("[]") << kFeatured << false << ""
            << "" << true << false << false << QStringList{"Cloud", "Plain", "Seer"} << plainMenu
            << "Publishing as you"
            << "Prompt";
        QTest::newRow("signed in with nothing offered")
            << QByteArray("[]") << kNoneFeatured << true << ""
            << "" << false << false << false << QStringList() << signedInMenu << "Publishing as you"
            << "Prompt";
        QTest::newRow("signed in, known by e-mail only")
            << QByteArray("[]") << kFeatured << true << ""
            << "ada@example.org" << false << false << true << QStringList{"Cloud", "Plain", "Seer"}
            << signedInMenu << "Publishing as ada@example.org"
            << "Prompt";
        QTest::newRow("signed in by name, with an update")
            << QByteArray(R"([{"name":"alpha:8b"}])") << kFeatured << true << "ada"
            << "ada@example.org" << false << true << true
            << QStringList{"On this Mac", "alpha:8b", "Cloud", "Plain", "Seer"}
            << QStringList{QString::fromUtf16(u"\u2191 Update to 99.0"),
                           QString(),
                           kGet,
                           kKey,
                           kHistory,
                           QString(),
                           "My profile (@ada)",
                           "Publish local drawings",
                           "Drawings",
                           "Models"}
            << "Publishing as @ada"
            << "@ada";
    }
    void theSidebarFollowsTheUser()
    {
        QFETCH(QByteArray, installed);
        QFETCH(QByteArray, catalog);
        QFETCH(bool, signedIn);
        QFETCH(QString, username);
        QFETCH(QString, email);
        QFETCH(bool, hasKey);
        QFETCH(bool, newerVersion);
        Window w({installed, catalog, signedIn, username, email, hasKey, R"({"credits":1})", newerVersion});
        QVERIFY(w.appear());
        QTEST(w.content->canDraw(), "canDraw");
        QTEST(Window::texts(w.content->pickerEntries()), "picker");
        QFETCH(QStringList, menu);
#ifndef Q_OS_MACOS
        menu << QString() << QString::fromUtf16(u"Check for Updates\u2026");
#endif
        QCOMPARE(Window::texts(w.content->menuEntries()), menu);
        QTEST(w.content->footerIdentity(), "identity");
        QTEST(w.content->promptHeader(), "header");
    }

    // The start-up loads run one after another: each request goes out only once the answer to
    // the one before has been taken in, and a sign-in later brings the favourites again.
    void startUpLoadsOneStepAtATime()
    {
        Window w(
            {R"([{"name":"alpha:8b"}])", kFeatured, true, "ada", "", false, R"({"credits":3.25})", true});
        w.server.route("GET", "/api/tags",
                       FakeResponse(200).pause(100).write(R"({"models":[{"name":"alpha:8b"}]})"));
        w.server.route("GET", "/api/v1/favorites",
                       FakeResponse(200).pause(100).write(R"({"cloud_ids":["vendor/seer"]})"));
        QStringList seen;
        QObject::connect(
            &w.server, &FakeHttpServer::requestReceived, w.content, [&](const RecordedRequest &r) {
                DrawSession *s = w.content->session();
                if (r.path == "/api/v1/recommended_models")
                    seen << QStringLiteral("catalog after models: %1").arg(s->models().size());
                else if (r.path == "/api/v1/favorites")
                    seen << QStringLiteral("favourites after catalog: %1").arg(s->cloudCatalog().size());
                else if (r.path == "/api/v1/me")
                    seen
                        << QStringLiteral("balance after favourites: %1").arg(s->enabledCloudIDs().join(','));
                else if (r.path == "/api/app_version")
                    seen << QStringLiteral("update after balance: %1").arg(w.content->balanceText());
                else
                    seen << QString::fromLatin1(r.path);
            });
        w.content->session()->setSelectedModel(QStringLiteral("vendor/seer"));
        QVERIFY(w.appear());
        QCOMPARE(seen, (QStringList{"/api/tags", "catalog after models: 1", "favourites after catalog: 2",
                                    "balance after favourites: vendor/seer", "update after balance: $3.25"}));
        QCOMPARE(w.content->session()->updateVersion(), QStringLiteral("99.0"));

        // Signing out and in again reloads the favourites; signing out alone does not.
        w.content->account()->signOut();
        QTest::qWait(0);
        QCOMPARE(seen.size(), 5);
        QSignalSpy loaded(w.content->session(), &DrawSession::favoritesLoaded);
        w.content->account()->completeSignIn(QUrl(QStringLiteral("dravlin-mac://auth?code=c1")));
        w.server.route("POST", "/api/v1/auth/exchange", FakeResponse::json(200, R"({"token":"tok-2"})"));
        QVERIFY(loaded.wait(20000));
        QCOMPARE(seen.last(), QStringLiteral("favourites after catalog: 2"));
    }

    void thePaymentLine_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("payWith");
        QTest::addColumn<bool>("hasKey");
        QTest::addColumn<QByteArray>("me");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("balance");
        QTest::addColumn<bool>("warning");
        QTest::newRow("local model") << "alpha:8b"
                                     << "credits" << false << QByteArray(R"({"credits":2})") << false
                                     << "$2.00" << false;
        QTest::newRow("credit with a balance")
            << "vendor/seer"
            << "credits" << false << QByteArray(R"({"credits":7.005})") << true << "$7.00" << false;
        QTest::newRow("credit, balance unknown")
            << "vendor/seer"
            << "credits" << false << QByteArray(R"({"credits":"lots"})") << true << "" << false;
        QTest::newRow("key, none saved")
            << "vendor/seer"
            << "key" << false << QByteArray(R"({"credits":2})") << true << "" << true;
        QTest::newRow("key saved") << "vendor/seer"
                                   << "key" << true << QByteArray(R"({"credits":2})") << true << "" << false;
    }
    void thePaymentLine()
    {
        QFETCH(QString, model);
        QFETCH(QString, payWith);
        QFETCH(bool, hasKey);
        QFETCH(QByteArray, me);
        Window w({R"([{"name":"alpha:8b"}])", kFeatured, true, "", "", hasKey, me, false});
        QVERIFY(w.appear());
        w.content->session()->setSelectedModel(model);
        w.content->session()->setPayWith(payWith);
        QTEST(w.content->showPayment(), "shown");
        QTEST(w.content->balanceText(), "balance");
        QTEST(w.content->showKeyWarning(), "warning");
    }

    // "draw" links choose an installed model by family; anything else they might say is ignored
    // or leads to the get-models sheet, and nothing is ever started.
    void drawLinks_data()
    {
        QTest::addColumn<QByteArray>("installed");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<bool>("sheet");
        const QByteArray two = R"([{"name":"beta:4b","capabilities":[]},{"name":"alpha:8b"},
            {"name":"beta:1b","capabilities":[]},{"name":"::","capabilities":[]}])";
        QTest::newRow("family match, first in list order") << two << "dravlin-mac://draw?model=beta"
                                                           << "beta:1b" << false;
        QTest::newRow("first model item counts") << two << "dravlin-mac://draw?model=beta&model=alpha"
                                                 << "beta:1b" << false;
        QTest::newRow("full name with tag") << two << "dravlin-mac://draw?model=beta:4b"
                                            << "alpha:8b" << true;
        QTest::newRow("unknown family") << two << "dravlin-mac://draw?model=gamma"
                                        << "alpha:8b" << true;
        QTest::newRow("only colons never match") << two << "dravlin-mac://draw?model=::"
                                                 << "alpha:8b" << true;
        QTest::newRow("no model item") << two << "dravlin-mac://draw?size=2"
                                       << "alpha:8b" << false;
        QTest::newRow("empty model") << two << "dravlin-mac://draw?model="
                                     << "alpha:8b" << false;
        QTest::newRow("other host") << two << "dravlin-mac://auth?model=beta"
                                    << "alpha:8b" << false;
        QTest::newRow("nothing installed") << QByteArray("[]") << "dravlin-mac://draw?model=beta"
                                           << "vendor/plain" << true;
    }
    void drawLinks()
    {
        QFETCH(QByteArray, installed);
        QFETCH(QString, url);
        Window w({.installed = installed});
        QVERIFY(w.appear());
        w.content->handleOpenURL(QUrl(url));
        QTEST(w.content->session()->selectedModel(), "selected");
        QTEST(w.content->showGetModels(), "sheet");
        QVERIFY(!w.content->session()->running());
    }

    // Web pages open below the service's address, each segment staying one segment; only web
    // addresses are ever handed to the browser.
    void openingAddresses()
    {
        const QUrl base(QStringLiteral("https://dravlin.example/app/"));
        QCOMPARE(ContentController::webURL(base, {"download", "mac"}).toString(),
                 QStringLiteral("https://dravlin.example/app/download/mac"));
        QCOMPARE(ContentController::webURL(base, {"@a/b?c#d"}).toString(QUrl::FullyEncoded),
                 QStringLiteral("https://dravlin.example/app/@a%2Fb%3Fc%23d"));
        QCOMPARE(ContentController::webURL(base, {"@é"}).toString(QUrl::FullyEncoded),
                 QStringLiteral("https://dravlin.example/app/@%C3%A9"));

        Window w({.installed = R"([{"name":"a:1"}])", .signedIn = true, .username = "x/y?z"});
        QVERIFY(w.appear());
        w.content->activateMenuEntry(QStringLiteral("profile"));
        w.content->activateMenuEntry(QStringLiteral("getModels"));
        w.content->activateMenuEntry(QStringLiteral("openRouterKey"));
        for (const char *bad :
             {"file:///etc/passwd", "javascript:alert(1)", "dravlin-mac://draw?model=a", ""})
            w.content->openLink(QUrl(QString::fromLatin1(bad)));
        w.content->openLink(QUrl(QStringLiteral("http://x.example/d/1")));
        QCOMPARE(w.opened, (QList<QUrl>{ContentController::webURL(w.server.url(), {"@x/y?z"}),
                                        QUrl(QStringLiteral("http://x.example/d/1"))}));
        QVERIFY(w.opened.first().toString(QUrl::FullyEncoded).endsWith(QLatin1String("/@x%2Fy%3Fz")));
        QVERIFY(w.content->showGetModels() && w.content->showKeySheet());
        w.content->activateMenuEntry(QStringLiteral("publishLocal"));
        QVERIFY(!w.content->session()->publishLocal());
    }

    // An example starts drawing and the examples stay away, also for the next window.
    void anExampleIsUsedOnce()
    {
        Window w({.installed = R"([{"name":"alpha:8b"}])"});
        QVERIFY(w.appear());
        w.server.route("POST", "/api/chat", FakeResponse(200).hold());
        QVERIFY(!w.content->examplesDismissed());
        w.content->useExample(QStringLiteral("a bowl of ramen"));
        QVERIFY(w.content->session()->running());
        QCOMPARE(w.content->session()->activePrompt(), QStringLiteral("a bowl of ramen"));
        ContentController next;
        QVERIFY(next.examplesDismissed());
        w.content->session()->stop();
    }

    void pickingAnImage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("image");
        QTest::addColumn<bool>("attached");
        QTest::newRow("png") << "a.png" << true << true;
        QTest::newRow("upper-case JPG") << "b.JPG" << true << true;
        QTest::newRow("webp") << "c.webp" << true << true;
        QTest::newRow("heic is not offered") << "d.heic" << true << false;
        QTest::newRow("an image name, not an image") << "e.gif" << false << false;
    }
    void pickingAnImage()
    {
        QFETCH(QString, name);
        QFETCH(bool, image);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (image) {
            QImage picture(4, 4, QImage::Format_RGB32);
            picture.fill(Qt::red);
            QVERIFY(picture.save(path, "PNG"));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("GIF89a? not really") > 0);
        }
        ContentController content;
        QTEST(content.pickImage(QUrl::fromLocalFile(path)), "attached");
        QTEST(content.session()->hasReference(), "attached");
    }

    void labels_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("1023 B") << Formats::sizeLabel(QString(1023, 'a')) << "1023 B";
        QTest::newRow("1.0 KB") << Formats::sizeLabel(QString(1024, 'a')) << "1.0 KB";
        QTest::newRow("no megabytes") << Formats::sizeLabel(QString(1536000, 'a')) << "1500.0 KB";
        QTest::newRow("UTF-8 bytes") << Formats::sizeLabel(QString(512, QChar(0xe9))) << "1.0 KB";
        QTest::newRow("4 s") << Formats::elapsed(4) << "";
        QTest::newRow("5 s") << Formats::elapsed(5) << "5s";
        QTest::newRow("59 s") << Formats::elapsed(59) << "59s";
        QTest::newRow("60 s") << Formats::elapsed(60) << "1m 0s";
        QTest::newRow("125 s") << Formats::elapsed(125) << "2m 5s";
    }
    void labels()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    void drawNeedsAPromptAndAModel_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("words") << " a fox "
                               << "m:1" << true;
        QTest::newRow("spaces and tabs") << " \t "
                                         << "m:1" << false;
        QTest::newRow("a line break counts") << "\n"
                                             << "m:1" << true;
        QTest::newRow("no model") << "a fox"
                                  << "" << false;
    }
    void drawNeedsAPromptAndAModel()
    {
        QFETCH(QString, prompt);
        QFETCH(QString, model);
        QTEST(Formats::drawEnabled(prompt, model), "enabled");
    }

    // Fed piece by piece, split anywhere, the transcript shows exactly what the rule gives for the
    // whole text.
    void theVisibleNarration_data()
    {
        QTest::addColumn<QString>("narration");
        QTest::addColumn<QString>("visible");
        QTest::newRow("a sentence then markup") << "A tall tower.\n<svg viewBox=\"0 0 9 9\"></svg>"
                                                << "A tall tower.";
        QTest::newRow("starts with a fence") << "```svg\n<svg></svg>```"
                                             << "";
        QTest::newRow("starts with markup") << "<svg><rect/></svg>"
                                            << "";
        QTest::newRow("fence before svg") << "  Plan:\n\n two `ticks`` ok ```xml <svg/>"
                                          << "Plan:\n\n two `ticks`` ok";
        QTest::newRow("near misses stay") << "a <sv g> and <s and ``\t\n"
                                          << "a <sv g> and <s and ``";
        QTest::newRow("emoji and space before") << "🎨 paint  \n <svg"
                                                << "🎨 paint";
        QTest::newRow("only space") << " \n\t "
                                    << "";
        QTest::newRow("upper case is not the marker") << "Use <SVG> here"
                                                      << "Use <SVG> here";
    }
    void theVisibleNarration()
    {
        QFETCH(QString, narration);
        QFETCH(QString, visible);
        QCOMPARE(VisibleNarration::of(narration), visible);
        for (int size = 1; size <= 4; ++size) {
            for (int offset = 0; offset < size; ++offset) {
                VisibleNarration feed;
                feed.append(QStringView(narration).left(offset));
                for (qsizetype at = offset; at < narration.size(); at += size)
                    feed.append(QStringView(narration).mid(at, size));
                QCOMPARE(feed.text(), visible);
                QCOMPARE(feed.isEmpty(), visible.isEmpty());
            }
        }
    }

    // The get-models sheet: recommended models by update date (undated last, ties in catalog
    // order), what each offers on this machine, a download's row coming and going, the cloud
    // search, and removal only after the confirmation.
    void theModelsSheet()
    {
        const QByteArray catalog = R"({"models":[
          {"name":"old:1b","size_gb":4.7,"min_ram_gb":1,"blurb":"","updated_days":30,"updated":"1 month ago"},
          {"name":"nodate:1b","size_gb":1,"min_ram_gb":1,"blurb":""},
          {"name":"huge:900b","size_gb":500,"min_ram_gb":100000,"blurb":"","updated_days":2,
           "cloud_id":"vendor/huge","display_name":"Huge"},
          {"name":"fresh:2b","size_gb":2.99,"min_ram_gb":1,"blurb":"","updated_days":2,"display_name":""}],
          "cloud_catalog":[{"id":"vendor/huge","name":"Huge Cloud"},{"id":"acme/seer-2","name":"Seer"},
                           {"id":"vendor/plain","name":"Plain"}]})";
        Window w({.installed = R"([{"name":"alpha:8b","size":5046586573,"capabilities":["completion"]},
                                   {"name":"beta:1b","size":1073741824}])",
                  .catalog = catalog});
        QVERIFY(w.appear());
        w.server.route("POST", "/api/pull",
                       FakeResponse().write("{\"status\":\"pulling manifest\"}\n").hold());
        w.server.route("DELETE", "/api/delete", FakeResponse::json(200, ""));

        ModelsSheetController sheet;
        sheet.setSession(w.content->session());
        const auto rows = [&] {
            QStringList texts;
            for (const QVariant &row : sheet.recommendedRows()) {
                const QVariantMap map = row.toMap();
                const QString action = map.value("action").toString();
                QString text = map.value("title").toString() + " " + action;
                if (action == "get")
                    text += " " + map.value("getLabel").toString();
                if (action == "needs")
                    text +=
                        " " + map.value("needsLabel").toString() + " " + map.value("cloudLabel").toString();
                texts << text;
            }
            return texts;
        };
        QCOMPARE(rows(), (QStringList{"Huge needs Needs 100000GB Add cloud", "fresh:2b get Get 2GB",
                                      "old:1b get Get 4GB", "nodate:1b get Get 1GB"}));
        sheet.session()->toggleCloud(QStringLiteral("vendor/huge"));
        QCOMPARE(rows().first(), QString::fromUtf16(u"Huge needs Needs 100000GB \u2713 Cloud"));

        QSignalSpy rowsChanged(&sheet, &ModelsSheetController::recommendedRowsChanged);
        sheet.session()->pull(QStringLiteral("fresh:2b"));
        QCOMPARE(rows().at(1), QStringLiteral("fresh:2b progress"));
        sheet.session()->cancelPull(QStringLiteral("fresh:2b"));
        QTRY_COMPARE(rows().at(1), QStringLiteral("fresh:2b get Get 2GB"));
        QCOMPARE(rowsChanged.size(), 2);

        QCOMPARE(sheet.totalInstalled(), QStringLiteral("6GB on disk"));
        QStringList installed;
        for (const QVariant &row : sheet.installedRows()) {
            const QVariantMap map = row.toMap();
            installed << map.value("name").toString() + (map.value("tools").toBool() ? " " : " no tools ") +
                             map.value("size").toString();
        }
        installed.sort();
        QCOMPARE(installed, (QStringList{"alpha:8b no tools 4.7GB", "beta:1b 1.0GB"}));
        QCOMPARE(ModelsSheetController::totalInstalled({}), QStringLiteral("0GB on disk"));

        for (const auto &[search, expected] : {std::pair{"", "Huge Cloud,Seer,Plain"},
                                               {" \t ", "Huge Cloud,Seer,Plain"},
                                               {"  SEER\t", "Seer"},
                                               {"ACME/", "Seer"},
                                               {"zzz", ""},
                                               {"vendor", "Huge Cloud,Plain"}}) {
            sheet.setSearch(QString::fromLatin1(search));
            QStringList names;
            for (const QVariant &row : sheet.cloudResults())
                names << row.toMap().value("name").toString();
            QCOMPARE(names.join(','), QString::fromLatin1(expected));
        }
        QCOMPARE(sheet.searchPlaceholder(), QString::fromUtf16(u"Search 3 cloud models\u2026"));

        sheet.requestRemove(QStringLiteral("alpha:8b"));
        QCOMPARE(sheet.removalTitle(),
                 QString::fromUtf16(u"Remove alpha:8b? Frees 4.7GB \u2014 you can always re-download it."));
        sheet.cancelRemove();
        QVERIFY(sheet.confirmingRemove().isEmpty());
        sheet.requestRemove(QStringLiteral("alpha:8b"));
        sheet.confirmRemove();
        const auto deletes = [&] {
            QList<QByteArray> bodies;
            for (const RecordedRequest &request : w.server.requests())
                if (request.method == "DELETE" && request.body.contains("alpha:8b"))
                    bodies << request.body;
            return bodies;
        };
        QTRY_COMPARE(deletes().size(), 1);
        QVERIFY(sheet.confirmingRemove().isEmpty());
    }
};

QTEST_MAIN(TestContentController)
#include "tst_contentcontroller.moc"
