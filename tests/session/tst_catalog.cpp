#include "modelsharness.h"
#include "testenvironment.h"

#include <QTest>

namespace {
const QByteArray kCatalog = R"({
  "models": [
    {"name":"alpha:14b","size_gb":9.0,"min_ram_gb":16,"blurb":"Big alpha","launched_on":"2025-03-04","date_precise":true},
    {"name":"beta:4b","size_gb":2.5,"min_ram_gb":8,"blurb":"Small beta","updated_days":3,"pulls":120,"cloud_id":"vendor/beta"},
    {"name":"alpha:4b","size_gb":3,"min_ram_gb":8.0,"blurb":"Small alpha","launched_on":"2025-03-04"}
  ],
  "cloud_catalog": [
    {"id":"vendor/seer","name":"Seer","vision":true,"created":1700000000},
    {"id":"vendor/plain","name":"Plain"},
    {"id":"vendor/seer","name":"Second Seer"}
  ],
  "featured_cloud": ["vendor/plain","vendor/seer"]
})";
} // namespace

class TestCatalog : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // ---- the installed list ----

    void aListingSetsTheModelsAndRepairsTheSelection()
    {
        ModelsHarness h;
        h.installed(R"([{"name":"zeta:1b"},{"name":"alpha:8b"}])");
        QVERIFY(h.refreshModels());
        QVERIFY(h.session->ollamaUp());
        QCOMPARE(modelNames(h.session->models()), (QStringList{"alpha:8b", "zeta:1b"}));
        QCOMPARE(h.session->selectedModel(), QStringLiteral("alpha:8b"));

        // A local selection that is still installed stays; a deleted one goes to the first.
        h.session->setSelectedModel(QStringLiteral("zeta:1b"));
        QVERIFY(h.refreshModels());
        QCOMPARE(h.session->selectedModel(), QStringLiteral("zeta:1b"));
        h.installed(R"([{"name":"alpha:8b"}])");
        QVERIFY(h.refreshModels());
        QCOMPARE(h.session->selectedModel(), QStringLiteral("alpha:8b"));
        // A namespaced local model stays while installed and is no cloud model once removed.
        h.installed(R"([{"name":"alpha:8b"},{"name":"hf.co/org/repo:Q4_K_M"}])");
        QVERIFY(h.refreshModels());
        h.session->setSelectedModel(QStringLiteral("hf.co/org/repo:Q4_K_M"));
        QVERIFY(h.refreshModels());
        QCOMPARE(h.session->selectedModel(), QStringLiteral("hf.co/org/repo:Q4_K_M"));
        h.installed(R"([{"name":"alpha:8b"}])");
        QVERIFY(h.refreshModels());
        QCOMPARE(h.session->selectedModel(), QStringLiteral("alpha:8b"));
        h.installed("[]");
        QVERIFY(h.refreshModels());
        QCOMPARE(h.session->selectedModel(), QString());
    }

    void aCloudSelectionSurvivesAListing()
    {
        ModelsHarness h;
        h.installed(R"([{"name":"alpha:8b"}])");
        h.session->setSelectedModel(QStringLiteral("vendor/seer"));
        QVERIFY(h.refreshModels());
        QCOMPARE(h.session->selectedModel(), QStringLiteral("vendor/seer"));
    }

    void aServerThatIsDownEmptiesTheListAndKeepsTheSelection()
    {
        ModelsHarness h;
        h.installed(R"([{"name":"alpha:8b"}])");
        QVERIFY(h.refreshModels());
        QSignalSpy up(h.session, &DrawSession::ollamaUpChanged);
        h.session->client()->setBase(QUrl(QStringLiteral("http://127.0.0.1:1")));
        QVERIFY(h.refreshModels());
        QVERIFY(!h.session->ollamaUp());
        QCOMPARE(up.size(), 1);
        QVERIFY(h.session->models().isEmpty());
        QCOMPARE(h.session->selectedModel(), QStringLiteral("alpha:8b"));
    }

    void withNothingInstalledTheFirstFeaturedCloudModelIsChosen()
    {
        ModelsHarness h;
        h.session->client()->setBase(QUrl(QStringLiteral("http://127.0.0.1:1")));
        QVERIFY(h.refreshModels());
        QCOMPARE(h.session->selectedModel(), QString());
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        QCOMPARE(h.session->selectedModel(), QStringLiteral("vendor/plain"));
        QCOMPARE(h.session->selectedModelLabel(), QStringLiteral("Plain"));
    }

    // ---- the catalog ----

    void installedFamiliesLeaveTheRecommendedList()
    {
        ModelsHarness h;
        h.installed(R"([{"name":"alpha:8b"}])");
        QVERIFY(h.refreshModels());
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        QCOMPARE(recommendedNames(h.session->recommended()), QStringList{"beta:4b"});
        const auto byFamily = h.session->localByFamily();
        QCOMPARE(byFamily.keys(), (QStringList{"alpha", "beta"}));
        QCOMPARE(byFamily.value("alpha").name, QStringLiteral("alpha:14b")); // the first of the family
        QCOMPARE(h.session->selectedModel(), QStringLiteral("alpha:8b"));    // a selection is never replaced
    }

    void aFamilyNotInstalledKeepsEveryEntry()
    {
        ModelsHarness h;
        h.installed("[]");
        QVERIFY(h.refreshModels());
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        QCOMPARE(recommendedNames(h.session->recommended()),
                 (QStringList{"alpha:14b", "beta:4b", "alpha:4b"}));
        const RecommendedModel beta = h.session->recommended()[1];
        QCOMPARE(beta.sizeGB, 2.5);
        QCOMPARE(beta.minRamGB, 8);
        QCOMPARE(beta.updatedDays, std::optional<qint64>(3));
        QCOMPARE(beta.cloudId, std::optional<QString>("vendor/beta"));
        QCOMPARE(beta.launchedOn, std::nullopt);
    }

    void theCatalogRequestIsAnonymous()
    {
        ModelsHarness h;
        Keychain::set(QStringLiteral("api_token"), QStringLiteral("secret-token"));
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        const RecordedRequest request = h.server.requests().last();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, QByteArray("/api/v1/recommended_models"));
        QVERIFY(request.header("Authorization").isNull());
        Keychain::remove(QStringLiteral("api_token"));
    }

    void aBaseWithAPathPrefixKeepsIt()
    {
        ModelsHarness h;
        Preferences::setValue(QStringLiteral("DravlinBaseURL"), h.server.url().toString() + "/prefix/");
        ServiceClient::resetBaseURLForTesting();
        h.server.route("GET", "/prefix/api/v1/recommended_models", FakeResponse::json(200, kCatalog));
        QVERIFY(h.refreshRecommended());
        QCOMPARE(h.server.requests().last().path, QByteArray("/prefix/api/v1/recommended_models"));
        QCOMPARE(h.session->cloudCatalog().size(), 3);
    }

    // One bad entry anywhere and the whole document is refused: nothing changes.
    void aMalformedCatalogChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("required member missing")
            << QByteArray(R"({"models":[{"name":"x","size_gb":1,"min_ram_gb":1}]})");
        QTest::newRow("fractional memory")
            << QByteArray(R"({"models":[{"name":"x","size_gb":1,"min_ram_gb":8.5,"blurb":"b"}]})");
        QTest::newRow("optional of the wrong type") << QByteArray(
            R"({"models":[{"name":"x","size_gb":1,"min_ram_gb":8,"blurb":"b","updated_days":"3"}]})");
        QTest::newRow("size as text")
            << QByteArray(R"({"models":[{"name":"x","size_gb":"1","min_ram_gb":8,"blurb":"b"}]})");
        QTest::newRow("cloud entry without a name")
            << QByteArray(R"({"models":[],"cloud_catalog":[{"id":"a/b"}]})");
        QTest::newRow("vision as a string")
            << QByteArray(R"({"models":[],"cloud_catalog":[{"id":"a/b","name":"n","vision":"yes"}]})");
        QTest::newRow("featured holds a number") << QByteArray(R"({"models":[],"featured_cloud":["a/b",7]})");
        QTest::newRow("models missing") << QByteArray(R"({"cloud_catalog":[]})");
        QTest::newRow("models not a list") << QByteArray(R"({"models":{}})");
        QTest::newRow("an entry not an object") << QByteArray(R"({"models":[1]})");
        QTest::newRow("not JSON") << QByteArray("<html>maintenance</html>");
        QTest::newRow("a list at the top") << QByteArray("[]");
    }
    void aMalformedCatalogChangesNothing()
    {
        QFETCH(QByteArray, document);
        ModelsHarness h;
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        const auto recommended = h.session->recommended();
        const auto catalog = h.session->cloudCatalog();
        const auto featured = h.session->featuredCloud();
        QSignalSpy changed(h.session, &DrawSession::recommendedChanged);
        h.catalog(document);
        QVERIFY(h.refreshRecommended());
        QCOMPARE(h.session->recommended(), recommended);
        QCOMPARE(h.session->cloudCatalog(), catalog);
        QCOMPARE(h.session->featuredCloud(), featured);
        QVERIFY(changed.isEmpty());
    }

    void anUnreachableServiceChangesNothing()
    {
        ModelsHarness h;
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        h.server.route("GET", "/api/v1/recommended_models",
                       FakeResponse(200, FakeResponse::Framing::ContentLength)
                           .write("{\"models\":[")
                           .drop()
                           .write("]}"));
        QVERIFY(h.refreshRecommended());
        QCOMPARE(h.session->cloudCatalog().size(), 3);
        QCOMPARE(recommendedNames(h.session->recommended()).size(), 3);
    }

    void aCatalogWithoutCloudListsEmptiesThem()
    {
        ModelsHarness h;
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        QVERIFY(!h.session->cloudCatalog().isEmpty());
        h.catalog(
            R"({"models":[{"name":"gamma:1b","size_gb":1,"min_ram_gb":4,"blurb":"g","updated":null}],"featured_cloud":null})");
        QVERIFY(h.refreshRecommended());
        QVERIFY(h.session->cloudCatalog().isEmpty());
        QVERIFY(h.session->featuredCloud().isEmpty());
        QCOMPARE(recommendedNames(h.session->recommended()), QStringList{"gamma:1b"});
    }

    // ---- the offered cloud models ----

    void theEnabledSetIsReadAndToggled()
    {
        ModelsHarness h;
        Preferences::setValue(QStringLiteral("DravlinEnabledCloud"), QStringLiteral("a/x,,b/y,"));
        QCOMPARE(h.session->enabledCloudIDs(), (QStringList{"a/x", "b/y"}));
        QSignalSpy changed(h.session, &DrawSession::enabledCloudChanged);
        h.session->toggleCloud(QStringLiteral("a/x"));
        QCOMPARE(h.session->enabledCloudRaw(), QStringLiteral("b/y"));
        h.session->toggleCloud(QStringLiteral("c/z"));
        QCOMPARE(h.session->enabledCloudRaw(), QStringLiteral("b/y,c/z"));
        QCOMPARE(changed.size(), 2);
        h.session->setSelectedModel(QStringLiteral("b/y"));
        h.session->toggleCloud(QStringLiteral("b/y"));
        h.session->toggleCloud(QStringLiteral("c/z"));
        QCOMPARE(h.session->enabledCloudRaw(), QString());
        QCOMPARE(h.session->selectedModel(), QStringLiteral("b/y")); // toggling never changes the selection

        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        QCOMPARE(h.session->cloudModels().size(), 2); // nothing enabled: the featured ones
        QCOMPARE(h.session->cloudModels().first().id, QStringLiteral("vendor/plain"));
    }

    void enabledModelsMissingFromTheCatalogAreStillOffered()
    {
        ModelsHarness h;
        Preferences::setValue(QStringLiteral("DravlinEnabledCloud"),
                              QStringLiteral("vendor/seer,other/new,vendor/seer"));
        // Before the catalog arrives, every id is a placeholder named by itself.
        QCOMPARE(h.session->cloudModels().first(),
                 (CloudModel{"vendor/seer", "vendor/seer", std::nullopt, std::nullopt}));
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        const QList<CloudModel> offered = h.session->cloudModels();
        QCOMPARE(offered.size(), 3);                       // not de-duplicated
        QCOMPARE(offered[0].name, QStringLiteral("Seer")); // the first entry of an id wins
        QCOMPARE(offered[1], (CloudModel{"other/new", "other/new", std::nullopt, std::nullopt}));
        h.session->setSelectedModel(QStringLiteral("vendor/seer"));
        QVERIFY(h.session->selectedIsVision());
        h.session->setSelectedModel(QStringLiteral("other/new"));
        QVERIFY(!h.session->selectedIsVision());
        QCOMPARE(h.session->selectedModelLabel(), QStringLiteral("other/new"));
    }

    // ---- labels and families ----

    void releaseLabels_data()
    {
        QTest::addColumn<QString>("launched");
        QTest::addColumn<QVariant>("precise");
        QTest::addColumn<QString>("label");
        QTest::newRow("month precision")
            << QStringLiteral("2025-03-04") << QVariant() << QStringLiteral("Mar 2025");
        QTest::newRow("day precision")
            << QStringLiteral("2025-03-04") << QVariant(true) << QStringLiteral("Mar 4, 2025");
        QTest::newRow("explicitly imprecise")
            << QStringLiteral("2025-12-31") << QVariant(false) << QStringLiteral("Dec 2025");
        QTest::newRow("first day of a year")
            << QStringLiteral("2026-01-01") << QVariant(true) << QStringLiteral("Jan 1, 2026");
        QTest::newRow("a word") << QStringLiteral("soon") << QVariant(true) << QString();
        QTest::newRow("an impossible date") << QStringLiteral("2025-02-30") << QVariant() << QString();
        QTest::newRow("missing") << QString() << QVariant() << QString();
    }
    void releaseLabels()
    {
        QFETCH(QString, launched);
        QFETCH(QVariant, precise);
        QFETCH(QString, label);
        RecommendedModel model;
        if (!launched.isNull())
            model.launchedOn = launched;
        if (precise.isValid())
            model.datePrecise = precise.toBool();
        QCOMPARE(model.releaseLabel().value_or(QString()), label);
    }

    void installedModelsAreDatedByTheirFamily()
    {
        ModelsHarness h;
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        QCOMPARE(h.session->releaseLabel(OllamaModel{"alpha:8b", true, false, 0, {}}),
                 std::optional<QString>("Mar 4, 2025"));
        QCOMPARE(h.session->releaseLabel(OllamaModel{"beta:4b", true, false, 0, {}}), std::nullopt);
        QCOMPARE(h.session->releaseLabel(OllamaModel{"unknown:1b", true, false, 0, {}}), std::nullopt);
    }

    void familyNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("family");
        QTest::newRow("tagged") << QStringLiteral("alpha:8b") << QStringLiteral("alpha");
        QTest::newRow("untagged") << QStringLiteral("alpha") << QStringLiteral("alpha");
        QTest::newRow("leading colon") << QStringLiteral(":alpha:8b") << QStringLiteral("alpha");
        QTest::newRow("only colons") << QStringLiteral("::") << QStringLiteral("::");
        QTest::newRow("namespaced") << QStringLiteral("user/model:q4") << QStringLiteral("user/model");
    }
    void familyNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, family);
        QCOMPARE(Catalog::familyName(name), family);
    }

    void memoryIsWholeGibibytes()
    {
        DrawSession session;
        QVERIFY(session.ramGB() > 0);
        QVERIFY(session.ramGB() < 1 << 20);
    }
};

QTEST_GUILESS_MAIN(TestCatalog)
#include "tst_catalog.moc"
