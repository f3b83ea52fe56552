#include "sessionharness.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

Q_DECLARE_METATYPE(FakeResponse)

namespace {
const QByteArray kCatalog = R"({
  "models": [
    {"name":"alpha:14b","size_gb":9.0,"min_ram_gb":16,"blurb":"Big alpha","launched_on":"2025-03-04","date_precise":true},
    {"name":"beta:4b","size_gb":2.5,"min_ram_gb":8,"blurb":"Beta","updated_days":3,"pulls":120,"cloud_id":"vendor/beta","launched_on":"2025-12-31","date_precise":false},
    {"name":"alpha:4b","size_gb":3,"min_ram_gb":8.0,"blurb":"Small alpha","launched_on":"2025-03-04"}
  ],
  "cloud_catalog": [
    {"id":"vendor/seer","name":"Seer","vision":true,"created":1700000000},
    {"id":"vendor/plain","name":"Plain"},
    {"id":"vendor/seer","name":"Second Seer"}
  ],
  "featured_cloud": ["vendor/plain","vendor/seer"]
})";

QByteArray progress(int completed)
{
    return QByteArray("{\"status\":\"pulling 26bd\",\"total\":100,\"completed\":") +
           QByteArray::number(completed) + "}\n";
}

QString modelIn(const RecordedRequest &request)
{
    return QJsonDocument::fromJson(request.body).object().value("model").toString();
}

bool waitUntil(DrawSession *session, const char *signal, const std::function<bool()> &condition)
{
    QSignalSpy spy(session, signal);
    while (!condition()) {
        if (!spy.wait(20000))
            return false;
    }
    return true;
}
} // namespace

class TestCatalog : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // A listing keeps a selection still installed, or a cloud one; anything else gives way to the
    // first model listed. The selection is judged by the list it was made from.
    void aListingRepairsTheSelection_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QByteArray>("after"); // empty: the server is down
        QTest::addColumn<QStringList>("models");
        QTest::addColumn<QString>("kept");
        const QByteArray none = "[]";
        const QByteArray two = R"([{"name":"zeta:1b"},{"name":"alpha:8b"}])";
        const QByteArray alpha = R"([{"name":"alpha:8b"}])";
        const QByteArray hub = R"([{"name":"alpha:8b"},{"name":"hf.co/org/repo:Q4_K_M"}])";
        const QStringList both{"alpha:8b", "zeta:1b"};
        QTest::newRow("the first, sorted") << none << QString() << two << both << "alpha:8b";
        QTest::newRow("an installed one stays") << none << "zeta:1b" << two << both << "zeta:1b";
        QTest::newRow("a removed one gives way")
            << two << "zeta:1b" << alpha << QStringList{"alpha:8b"} << "alpha:8b";
        QTest::newRow("a namespaced local model stays")
            << hub << "hf.co/org/repo:Q4_K_M" << hub << QStringList{"alpha:8b", "hf.co/org/repo:Q4_K_M"}
            << "hf.co/org/repo:Q4_K_M";
        QTest::newRow("and is no cloud model once removed")
            << hub << "hf.co/org/repo:Q4_K_M" << alpha << QStringList{"alpha:8b"} << "alpha:8b";
        QTest::newRow("nothing installed") << alpha << "alpha:8b" << none << QStringList() << QString();
        QTest::newRow("a cloud selection stays")
            << alpha << "vendor/seer" << alpha << QStringList{"alpha:8b"} << "vendor/seer";
        QTest::newRow("the server is down")
            << alpha << "alpha:8b" << QByteArray() << QStringList() << "alpha:8b";
    }
    void aListingRepairsTheSelection()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, selected);
        QFETCH(QByteArray, after);
        WindowSession h;
        h.installed(before);
        QVERIFY(h.refreshModels());
        h.session->setSelectedModel(selected);
        if (after.isEmpty())
            h.session->client()->setBase(QUrl(QStringLiteral("http://127.0.0.1:1")));
        else
            h.installed(after);
        QVERIFY(h.refreshModels());
        QTEST(modelNames(h.session->models()), "models");
        QTEST(h.session->selectedModel(), "kept");
        QCOMPARE(h.session->ollamaUp(), !after.isEmpty());
    }

    // Installed families leave the recommended list; the first entry of a family dates the
    // installed models; with nothing selected, the first offered cloud model is. The request
    // carries no token.
    void theCatalog_data()
    {
        QTest::addColumn<QByteArray>("installed");
        QTest::addColumn<QStringList>("recommended");
        QTest::addColumn<QString>("selected");
        QTest::newRow("nothing installed")
            << QByteArray("[]") << QStringList{"alpha:14b", "beta:4b", "alpha:4b"} << "vendor/plain";
        QTest::newRow("alpha installed")
            << QByteArray(R"([{"name":"alpha:8b"}])") << QStringList{"beta:4b"} << "alpha:8b";
    }
    void theCatalog()
    {
        QFETCH(QByteArray, installed);
        WindowSession h(true);
        h.installed(installed);
        QVERIFY(h.refreshModels());
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        QVERIFY(h.sent("/api/v1/recommended_models").header("Authorization").isNull());
        QTEST(recommendedNames(h.session->recommended()), "recommended");
        QTEST(h.session->selectedModel(), "selected");
        QCOMPARE(h.session->localByFamily().keys(), (QStringList{"alpha", "beta"}));
        QCOMPARE(h.session->localByFamily().value("beta"),
                 (RecommendedModel{
                     "beta:4b", 2.5, 8, "Beta", {}, 3, 120, {}, "vendor/beta", "2025-12-31", false}));
        // Dated to the day only when the catalog says the date is exact.
        QCOMPARE(h.session->releaseLabelFor(QStringLiteral("alpha:8b")), QStringLiteral("Mar 4, 2025"));
        QCOMPARE(h.session->releaseLabelFor(QStringLiteral("beta:1b")), QStringLiteral("Dec 2025"));
        QCOMPARE(h.session->releaseLabelFor(QStringLiteral("gamma:1b")), QString());
        QVERIFY(h.session->ramGB() > 0);
        // A family is the first non-empty piece between colons.
        for (const auto &[name, family] : QList<std::pair<QString, QString>>{
                 {":alpha:8b", "alpha"}, {"::", "::"}, {"user/model:q4", "user/model"}})
            QCOMPARE(Catalog::familyName(name), family);

        // Cloud lists left out or null are emptied.
        h.catalog(R"({"models":[{"name":"g:1b","size_gb":1,"min_ram_gb":4,"blurb":"g","updated":null}],)"
                  R"("featured_cloud":null})");
        QVERIFY(h.refreshRecommended());
        QVERIFY(h.session->cloudCatalog().isEmpty() && h.session->featuredCloud().isEmpty());
        QCOMPARE(recommendedNames(h.session->recommended()), QStringList{"g:1b"});
    }

    // One bad entry anywhere, or a reply not received whole, and nothing changes.
    void aCatalogNotUnderstoodChangesNothing_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        auto row = [](const char *name, const char *json) {
            QTest::newRow(name) << FakeResponse::json(200, json);
        };
        row("a required member missing", R"({"models":[{"name":"x","size_gb":1,"min_ram_gb":1}]})");
        row("fractional memory", R"({"models":[{"name":"x","size_gb":1,"min_ram_gb":8.5,"blurb":"b"}]})");
        row("a required member of the wrong type",
            R"({"models":[{"name":"x","size_gb":"1","min_ram_gb":8,"blurb":"b"}]})");
        row("an optional member of the wrong type",
            R"({"models":[{"name":"x","size_gb":1,"min_ram_gb":8,"blurb":"b","updated_days":"3"}]})");
        row("a cloud entry without a name", R"({"models":[],"cloud_catalog":[{"id":"a/b"}]})");
        row("vision as text", R"({"models":[],"cloud_catalog":[{"id":"a/b","name":"n","vision":"yes"}]})");
        row("a featured id that is a number", R"({"models":[],"featured_cloud":["a/b",7]})");
        row("no models", R"({"cloud_catalog":[]})");
        row("models not a list", R"({"models":{}})");
        row("an entry not an object", R"({"models":[1]})");
        row("not JSON", "<html>maintenance</html>");
        row("a list", "[]");
        QTest::newRow("cut off") << FakeResponse(200, FakeResponse::Framing::ContentLength)
                                        .write("{\"models\":[")
                                        .drop()
                                        .write("]}");
    }
    void aCatalogNotUnderstoodChangesNothing()
    {
        QFETCH(FakeResponse, reply);
        WindowSession h;
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        const auto recommended = h.session->recommended();
        const auto catalog = h.session->cloudCatalog();
        const auto featured = h.session->featuredCloud();
        QSignalSpy changed(h.session, &DrawSession::recommendedChanged);
        h.server.route("GET", "/api/v1/recommended_models", reply);
        QVERIFY(h.refreshRecommended());
        QVERIFY(changed.isEmpty());
        QCOMPARE(h.session->recommended(), recommended);
        QCOMPARE(h.session->cloudCatalog(), catalog);
        QCOMPARE(h.session->featuredCloud(), featured);
    }

    // The enabled ids as stored, in the user's order, offered even before the catalog names them.
    // Toggling never moves the selection, and a signed-in user's account gets the whole list as it
    // was at each toggle.
    void togglingCloudModels_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("signed in") << true;
        QTest::newRow("signed out: nothing is sent or fetched") << false;
    }
    void togglingCloudModels()
    {
        QFETCH(bool, signedIn);
        WindowSession h(signedIn);
        h.server.route("PUT", "/api/v1/favorites", FakeResponse::json(200, "{}"));
        Preferences::setValue(QStringLiteral("DravlinEnabledCloud"), QStringLiteral("a/x,,b/y,"));
        QCOMPARE(h.session->enabledCloudIDs(), (QStringList{"a/x", "b/y"}));
        h.session->setSelectedModel(QStringLiteral("b/y"));
        QSignalSpy changed(h.session, &DrawSession::enabledCloudChanged);
        QStringList stored;
        for (const char *id : {"a/x", "c/z", "b/y", "c/z"}) {
            h.session->toggleCloud(QString::fromLatin1(id));
            stored << h.session->enabledCloudRaw();
        }
        QCOMPARE(stored, (QStringList{"b/y", "b/y,c/z", "c/z", ""}));
        QCOMPARE(changed.size(), 4);
        QCOMPARE(h.session->selectedModel(), QStringLiteral("b/y"));
        h.session->toggleCloud(QStringLiteral("d/w"));
        QCOMPARE(h.session->cloudModels(), (QList<CloudModel>{{"d/w", "d/w", std::nullopt, std::nullopt}}));
        if (!signedIn) {
            QSignalSpy loaded(h.session, &DrawSession::favoritesLoaded);
            h.session->loadFavorites();
            QCOMPARE(loaded.size(), 1);
            QCoreApplication::processEvents();
            QVERIFY(h.server.requests().isEmpty());
            return;
        }
        QVERIFY(h.waitForRequests("PUT", "/api/v1/favorites", 5));
        QStringList sent;
        for (const RecordedRequest &request : h.server.requests()) {
            const QJsonValue ids = QJsonDocument::fromJson(request.body).object().value("cloud_ids");
            sent << QString::fromUtf8(QJsonDocument(ids.toArray()).toJson(QJsonDocument::Compact));
        }
        sent.sort();
        QCOMPARE(sent, (QStringList{"[\"b/y\",\"c/z\"]", "[\"b/y\"]", "[\"c/z\"]", "[\"d/w\"]", "[]"}));
    }

    // The account's list replaces the local one, in its order, an empty one included; a cloud
    // selection no longer offered gives way to the first installed model, else the first offered
    // one; a list not understood changes nothing.
    void theAccountsFavourites_data()
    {
        QTest::addColumn<QByteArray>("installed");
        QTest::addColumn<QString>("enabled");
        QTest::addColumn<QByteArray>("favourites");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("kept");
        const QByteArray none = "[]";
        QTest::newRow("an empty list; a featured selection stays")
            << none << "a/x,b/y" << QByteArray(R"({"cloud_ids":[]})") << "f/eat" << QString() << "f/eat";
        QTest::newRow("the account's order; a listed selection stays")
            << none << "a/x" << QByteArray(R"({"cloud_ids":["c/z","f/eat"]})") << "f/eat"
            << "c/z,f/eat"
            << "f/eat";
        QTest::newRow("a dropped selection: the first installed")
            << QByteArray(R"([{"name":"gemma3:1b"}])") << QString() << QByteArray(R"({"cloud_ids":["c/z"]})")
            << "f/eat"
            << "c/z"
            << "gemma3:1b";
        QTest::newRow("a dropped selection: the first offered")
            << none << QString() << QByteArray(R"({"cloud_ids":["c/z","d/w"]})") << "f/eat"
            << "c/z,d/w"
            << "c/z";
        QTest::newRow("a local selection stays, slash or not")
            << QByteArray(R"([{"name":"someone/model:tag"}])") << QString()
            << QByteArray(R"({"cloud_ids":["c/z"]})") << "someone/model:tag"
            << "c/z"
            << "someone/model:tag";
        QTest::newRow("a list not understood")
            << none << "a/x,,b/y," << QByteArray(R"({"cloud_ids":["a/x",1]})") << "a/x"
            << "a/x,,b/y,"
            << "a/x";
    }
    void theAccountsFavourites()
    {
        QFETCH(QByteArray, installed);
        QFETCH(QString, enabled);
        QFETCH(QByteArray, favourites);
        QFETCH(QString, selected);
        QFETCH(QString, stored);
        WindowSession h(true);
        h.installed(installed);
        QVERIFY(h.refreshModels());
        h.catalog(R"({"models":[],"featured_cloud":["f/eat"]})");
        QVERIFY(h.refreshRecommended());
        Preferences::setValue(QStringLiteral("DravlinEnabledCloud"), enabled);
        h.session->setSelectedModel(selected);
        h.server.route("GET", "/api/v1/favorites", FakeResponse::json(200, favourites));
        QSignalSpy changed(h.session, &DrawSession::enabledCloudChanged);
        QSignalSpy loaded(h.session, &DrawSession::favoritesLoaded);
        h.session->loadFavorites();
        QVERIFY(loaded.wait());
        QCOMPARE(h.session->enabledCloudRaw(), stored);
        QTEST(h.session->selectedModel(), "kept");
        QCOMPARE(changed.size(), stored == enabled ? 0 : 1);
    }

    // Downloads go side by side, each with its progress; starting one twice starts one. One that
    // ends is forgotten and the lists are fetched again, and a cancel after that must not delete
    // its model. A cancelled one is forgotten at once, its transfer closed and what arrived
    // deleted (a failure to delete is not shown). Closing the window closes what still runs.
    void downloads()
    {
        WindowSession h(false, 50);
        h.installed("[]");
        h.catalog(kCatalog);
        h.server.setHandler([](const RecordedRequest &request) {
            if (modelIn(request) == QLatin1String("alpha:4b"))
                return FakeResponse().write(progress(20)).hold().write(progress(90));
            if (modelIn(request) == QLatin1String("beta:4b"))
                return FakeResponse()
                    .writeEach({"{\"status\":\"pulling manifest\"}\n", progress(25)})
                    .hold()
                    .writeEach({progress(50), "{\"status\":\"success\"}\n"});
            return FakeResponse().write(progress(5)).hold().hold();
        });
        h.server.route("DELETE", "/api/delete",
                       FakeResponse(404, FakeResponse::Framing::ContentLength).write("no"));
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        for (const char *name : {"alpha:4b", "beta:4b", "beta:4b", "gamma:1b"})
            h.session->pull(QString::fromLatin1(name));
        QCOMPARE(h.session->pulling(),
                 (QMap<QString, double>{{"alpha:4b", 0}, {"beta:4b", 0}, {"gamma:1b", 0}}));
        const QMap<QString, double> going{{"alpha:4b", 0.2}, {"beta:4b", 0.25}, {"gamma:1b", 0.05}};
        QVERIFY(
            waitUntil(h.session, SIGNAL(pullingChanged()), [&] { return h.session->pulling() == going; }));
        QCOMPARE(h.requestsTo("POST", "/api/pull"), 3);

        h.session->cancelPull(QStringLiteral("alpha:4b"));
        QCOMPARE(h.session->pulling().keys(), (QStringList{"beta:4b", "gamma:1b"}));
        QVERIFY(!h.session->hasPullTask(QStringLiteral("alpha:4b")));
        QVERIFY(h.waitForRequests("DELETE", "/api/delete", 1));
        QCOMPARE(modelIn(h.sent("/api/delete")), QStringLiteral("alpha:4b"));
        QVERIFY(!disconnected.isEmpty() || disconnected.wait());

        h.installed(R"([{"name":"beta:4b"}])");
        QSignalSpy refreshed(h.session, &DrawSession::recommendedRefreshed);
        h.server.release();
        QVERIFY(refreshed.wait());
        QCOMPARE(h.session->pulling().keys(), QStringList{"gamma:1b"});
        QVERIFY(!h.session->hasPullTask(QStringLiteral("beta:4b")));
        QCOMPARE(modelNames(h.session->models()), QStringList{"beta:4b"});
        QCOMPARE(recommendedNames(h.session->recommended()), (QStringList{"alpha:14b", "alpha:4b"}));
        QCOMPARE(h.session->pullError(), std::nullopt);
        h.session->cancelPull(QStringLiteral("beta:4b"));
        QVERIFY(h.refreshModels());
        QCOMPARE(h.requestsTo("DELETE", "/api/delete"), 1);

        delete h.session;
        h.session = nullptr;
        QTRY_COMPARE(h.server.activeConnections(), 0);
    }

    // A failed download or removal says why; the download is forgotten, the removal still brings
    // the lists up to date, and the next download clears the message.
    void aFailureSaysWhy_data()
    {
        QTest::addColumn<bool>("removing");
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("a download, an error line")
            << false
            << FakeResponse().writeEach(
                   {"{\"status\":\"pulling manifest\"}\n", "{\"error\":\"file does not exist\"}\n"})
            << "Couldn't get alpha:8b: Unexpected Ollama response: file does not exist";
        QTest::newRow("a download, dropped") << false
                                             << FakeResponse(200, FakeResponse::Framing::ContentLength)
                                                    .write(progress(10))
                                                    .drop()
                                                    .write("more")
                                             << "Couldn't get alpha:8b: The network connection was lost.";
        QTest::newRow("a removal")
            << true << FakeResponse::json(404, R"({"error":"model 'alpha:8b' not found"})")
            << "Couldn't remove alpha:8b: Unexpected Ollama response: model 'alpha:8b' not found";
    }
    void aFailureSaysWhy()
    {
        QFETCH(bool, removing);
        QFETCH(FakeResponse, reply);
        WindowSession h;
        h.installed(R"([{"name":"alpha:8b"}])");
        h.catalog(kCatalog);
        h.server.route(removing ? "DELETE" : "POST", removing ? "/api/delete" : "/api/pull", reply);
        QSignalSpy refreshed(h.session, &DrawSession::recommendedRefreshed);
        if (removing)
            h.session->remove(QStringLiteral("alpha:8b"));
        else
            h.session->pull(QStringLiteral("alpha:8b"));
        QVERIFY(waitUntil(h.session, SIGNAL(pullErrorChanged()),
                          [&] { return h.session->pullError().has_value(); }));
        QTEST(h.session->pullError().value_or(QString()), "message");
        QVERIFY(h.session->pulling().isEmpty() && !h.session->hasPullTask(QStringLiteral("alpha:8b")));
        if (removing) {
            QVERIFY(!refreshed.isEmpty() || refreshed.wait());
            QCOMPARE(modelNames(h.session->models()), QStringList{"alpha:8b"});
            QCOMPARE(recommendedNames(h.session->recommended()), QStringList{"beta:4b"});
        }
        h.server.route("POST", "/api/pull", FakeResponse().hold());
        h.session->pull(QStringLiteral("beta:4b"));
        QCOMPARE(h.session->pullError(), std::nullopt);
    }

    // The server may install the model and leave the transfer hanging, or the family may turn up
    // in a listing: either way the download ends and its transfer is closed.
    void aDownloadEndsWhenItsModelIsListed_data()
    {
        QTest::addColumn<bool>("watched");
        QTest::newRow("by the watcher") << true;
        QTest::newRow("by any listing") << false;
    }
    void aDownloadEndsWhenItsModelIsListed()
    {
        QFETCH(bool, watched);
        WindowSession h(false, watched ? 50 : 60000);
        h.installed(R"([{"name":"other:1b"}])");
        h.server.route("POST", "/api/pull", FakeResponse().write(progress(99)).hold());
        h.session->pull(QStringLiteral("alpha:4b"));
        QVERIFY(h.waitForRequests("POST", "/api/pull", 1));
        if (watched)
            QVERIFY(h.waitForRequests("GET", "/api/tags", 2)); // it keeps looking while not installed
        QVERIFY(h.session->pulling().contains("alpha:4b"));
        h.installed(R"([{"name":"alpha:latest"},{"name":"other:1b"}])");
        if (!watched)
            QVERIFY(h.refreshModels());
        QVERIFY(
            waitUntil(h.session, SIGNAL(pullingChanged()), [&] { return h.session->pulling().isEmpty(); }));
        QVERIFY(!h.session->hasPullTask(QStringLiteral("alpha:4b")));
        QTRY_COMPARE(h.server.activeConnections(), 0); // the hanging transfer is closed
        QVERIFY(
            waitUntil(h.session, SIGNAL(modelsRefreshed()), [&] { return h.session->models().size() == 2; }));
        QCOMPARE(h.session->pullError(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestCatalog)
#include "tst_catalog.moc"
