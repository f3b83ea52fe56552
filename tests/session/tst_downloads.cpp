#include "modelsharness.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {
QByteArray progressLine(int completed, int total)
{
    return QStringLiteral("{\"status\":\"pulling 26bd\",\"total\":%1,\"completed\":%2}\n")
        .arg(total)
        .arg(completed)
        .toUtf8();
}

const QByteArray kSmallCatalog =
    R"({"models":[{"name":"alpha:4b","size_gb":1,"min_ram_gb":4,"blurb":"a"},{"name":"beta:4b","size_gb":1,"min_ram_gb":4,"blurb":"b"}]})";

bool waitUntil(QObject *sender, const char *signal, const std::function<bool()> &condition)
{
    QSignalSpy spy(sender, signal);
    while (!condition()) {
        if (!spy.wait(20000))
            return false;
    }
    return true;
}
} // namespace

class TestDownloads : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    void aDownloadReportsProgressThenRefreshesTheLists()
    {
        ModelsHarness h;
        h.installed("[]");
        h.catalog(kSmallCatalog);
        h.server.route("POST", "/api/pull",
                       FakeResponse()
                           .write("{\"status\":\"pulling manifest\"}\n")
                           .write(progressLine(25, 100))
                           .hold()
                           .write(progressLine(50, 100))
                           .write("{\"status\":\"success\"}\n"));
        QSignalSpy pulling(h.session, &DrawSession::pullingChanged);
        h.session->pull(QStringLiteral("alpha:4b"));
        QCOMPARE(h.session->pulling().value("alpha:4b", -1), 0.0);
        QVERIFY(h.session->hasPullTask(QStringLiteral("alpha:4b")));
        QVERIFY(waitUntil(h.session, SIGNAL(pullingChanged()),
                          [&] { return h.session->pulling().value("alpha:4b") == 0.25; }));

        h.installed(R"([{"name":"alpha:4b"}])");
        QSignalSpy refreshed(h.session, &DrawSession::recommendedRefreshed);
        h.server.release();
        QVERIFY(refreshed.wait());
        QVERIFY(h.session->pulling().isEmpty());
        QVERIFY(!h.session->hasPullTask(QStringLiteral("alpha:4b")));
        QCOMPARE(modelNames(h.session->models()), QStringList{"alpha:4b"});
        QCOMPARE(recommendedNames(h.session->recommended()), QStringList{"beta:4b"});
        QCOMPARE(h.session->pullError(), std::nullopt);
        const RecordedRequest request = h.server.requests().first();
        QCOMPARE(QJsonDocument::fromJson(request.body).object().value("model").toString(),
                 QStringLiteral("alpha:4b"));

        // A cancel that comes after the end must not remove the model just installed.
        h.session->cancelPull(QStringLiteral("alpha:4b"));
        QVERIFY(h.refreshModels());
        QCOMPARE(h.requestsTo("DELETE", "/api/delete"), 0);
    }

    void startingTheSameDownloadTwiceStartsOne()
    {
        ModelsHarness h;
        h.server.route("POST", "/api/pull", FakeResponse().hold());
        h.session->pull(QStringLiteral("alpha:4b"));
        h.session->pull(QStringLiteral("alpha:4b"));
        QVERIFY(h.waitForRequests("POST", "/api/pull", 1));
        QCoreApplication::processEvents();
        QCOMPARE(h.requestsTo("POST", "/api/pull"), 1);
        h.session->cancelPull(QStringLiteral("alpha:4b"));
    }

    void cancellingForgetsTheDownloadAndDeletesWhatArrived()
    {
        ModelsHarness h;
        h.server.route("POST", "/api/pull",
                       FakeResponse().write(progressLine(10, 100)).hold().write(progressLine(90, 100)));
        h.server.route("DELETE", "/api/delete",
                       FakeResponse(404, FakeResponse::Framing::ContentLength).write("no"));
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        h.session->pull(QStringLiteral("alpha:4b"));
        QVERIFY(waitUntil(h.session, SIGNAL(pullingChanged()),
                          [&] { return h.session->pulling().value("alpha:4b") > 0; }));
        h.session->cancelPull(QStringLiteral("alpha:4b"));
        QVERIFY(h.session->pulling().isEmpty());
        QVERIFY(!h.session->hasPullTask(QStringLiteral("alpha:4b")));
        QVERIFY(h.waitForRequests("DELETE", "/api/delete", 1));
        QVERIFY(disconnected.count() > 0 || disconnected.wait());
        // Whatever still comes has nowhere to go: the entry never comes back, no error is shown.
        h.server.release();
        QCoreApplication::processEvents();
        QVERIFY(h.session->pulling().isEmpty());
        QCOMPARE(h.session->pullError(), std::nullopt);
        QCOMPARE(h.requestsTo("DELETE", "/api/delete"), 1);
        const RecordedRequest deletion = h.server.requests().last();
        QCOMPARE(QJsonDocument::fromJson(deletion.body).object().value("model").toString(),
                 QStringLiteral("alpha:4b"));
    }

    void twoDownloadsRunSideBySide()
    {
        ModelsHarness h;
        h.server.setHandler([](const RecordedRequest &request) {
            const QString model = QJsonDocument::fromJson(request.body).object().value("model").toString();
            if (model == QLatin1String("alpha:4b"))
                return FakeResponse().write(progressLine(20, 100)).hold();
            return FakeResponse().write(progressLine(70, 100)).hold().write(progressLine(80, 100)).hold();
        });
        h.server.route("DELETE", "/api/delete", FakeResponse(200, FakeResponse::Framing::ContentLength));
        h.session->pull(QStringLiteral("alpha:4b"));
        h.session->pull(QStringLiteral("beta:4b"));
        QVERIFY(waitUntil(h.session, SIGNAL(pullingChanged()), [&] {
            return h.session->pulling().value("alpha:4b") == 0.2 &&
                   h.session->pulling().value("beta:4b") == 0.7;
        }));
        h.session->cancelPull(QStringLiteral("alpha:4b"));
        QCOMPARE(h.session->pulling().keys(), QStringList{"beta:4b"});
        h.server.release();
        QVERIFY(waitUntil(h.session, SIGNAL(pullingChanged()),
                          [&] { return h.session->pulling().value("beta:4b") == 0.8; }));
        QVERIFY(h.session->hasPullTask(QStringLiteral("beta:4b")));
        QCOMPARE(h.session->pullError(), std::nullopt);
        h.session->cancelPull(QStringLiteral("beta:4b"));
    }

    void aFailedDownloadExplainsItself_data()
    {
        QTest::addColumn<bool>("errorLine");
        QTest::addColumn<QString>("message");
        QTest::newRow("an error line") << true
                                       << QStringLiteral("Couldn't get nope:1b: Unexpected Ollama response: "
                                                         "pull model manifest: file does not exist");
        QTest::newRow("a dropped connection")
            << false << QStringLiteral("Couldn't get nope:1b: The network connection was lost.");
    }
    void aFailedDownloadExplainsItself()
    {
        QFETCH(bool, errorLine);
        QFETCH(QString, message);
        ModelsHarness h;
        if (errorLine) {
            h.server.route("POST", "/api/pull",
                           FakeResponse()
                               .write("{\"status\":\"pulling manifest\"}\n")
                               .write("{\"error\":\"pull model manifest: file does not exist\"}\n"));
        } else {
            h.server.route("POST", "/api/pull",
                           FakeResponse(200, FakeResponse::Framing::ContentLength)
                               .write(progressLine(1, 10))
                               .drop()
                               .write("more"));
        }
        h.session->pull(QStringLiteral("nope:1b"));
        QVERIFY(waitUntil(h.session, SIGNAL(pullErrorChanged()),
                          [&] { return h.session->pullError().has_value(); }));
        QCOMPARE(*h.session->pullError(), message);
        QVERIFY(h.session->pulling().isEmpty());
        QVERIFY(!h.session->hasPullTask(QStringLiteral("nope:1b")));

        // A new download clears the message.
        h.server.route("POST", "/api/pull", FakeResponse().hold());
        h.session->pull(QStringLiteral("alpha:4b"));
        QCOMPARE(h.session->pullError(), std::nullopt);
        h.session->cancelPull(QStringLiteral("alpha:4b"));
    }

    // The server may install the model and leave the progress stream hanging: the watcher notices.
    void aStalledDownloadIsFinishedByTheWatcher()
    {
        ModelsHarness h(50);
        h.installed(R"([{"name":"other:1b"}])");
        h.catalog(kSmallCatalog);
        h.server.route("POST", "/api/pull", FakeResponse().write(progressLine(99, 100)).hold());
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        h.session->pull(QStringLiteral("alpha:4b"));
        QVERIFY(h.waitForRequests("GET", "/api/tags", 2)); // it keeps polling while not installed
        QVERIFY(h.session->pulling().contains("alpha:4b"));
        h.installed(R"([{"name":"alpha:latest"},{"name":"other:1b"}])");
        QVERIFY(
            waitUntil(h.session, SIGNAL(pullingChanged()), [&] { return h.session->pulling().isEmpty(); }));
        QVERIFY(disconnected.count() > 0 || disconnected.wait()); // the hanging transfer is closed
        QVERIFY(
            waitUntil(h.session, SIGNAL(modelsRefreshed()), [&] { return h.session->models().size() == 2; }));
        QCOMPARE(h.session->pullError(), std::nullopt);
    }

    void aDownloadOfAnInstalledFamilyEndsAtTheNextListing()
    {
        ModelsHarness h;
        h.installed(R"([{"name":"alpha:8b"}])");
        h.server.route("POST", "/api/pull", FakeResponse().hold());
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        h.session->pull(QStringLiteral("alpha:4b"));
        QVERIFY(h.waitForRequests("POST", "/api/pull", 1));
        QVERIFY(h.refreshModels());
        QVERIFY(h.session->pulling().isEmpty());
        QVERIFY(!h.session->hasPullTask(QStringLiteral("alpha:4b")));
        QVERIFY(disconnected.count() > 0 || disconnected.wait());
    }

    void aFailedRemovalStillRefreshesTheLists()
    {
        ModelsHarness h;
        h.installed(R"([{"name":"alpha:8b"}])");
        h.catalog(kSmallCatalog);
        h.server.route("DELETE", "/api/delete",
                       FakeResponse::json(404, R"({"error":"model 'alpha:8b' not found"})"));
        QSignalSpy refreshed(h.session, &DrawSession::recommendedRefreshed);
        h.session->remove(QStringLiteral("alpha:8b"));
        QVERIFY(refreshed.wait());
        QCOMPARE(h.session->pullError(),
                 std::optional<QString>(
                     "Couldn't remove alpha:8b: Unexpected Ollama response: model 'alpha:8b' not found"));
        QCOMPARE(modelNames(h.session->models()), QStringList{"alpha:8b"});
        QCOMPARE(recommendedNames(h.session->recommended()), QStringList{"beta:4b"});
    }

    void aRemovalRefreshesTheListsAndKeepsAnEarlierError()
    {
        ModelsHarness h;
        h.server.route("POST", "/api/pull", FakeResponse().write("{\"error\":\"nope\"}\n"));
        h.session->pull(QStringLiteral("x:1"));
        QVERIFY(waitUntil(h.session, SIGNAL(pullErrorChanged()),
                          [&] { return h.session->pullError().has_value(); }));
        h.installed("[]");
        h.catalog(kSmallCatalog);
        h.server.route("DELETE", "/api/delete", FakeResponse(200, FakeResponse::Framing::ContentLength));
        QSignalSpy refreshed(h.session, &DrawSession::recommendedRefreshed);
        h.session->remove(QStringLiteral("alpha:8b"));
        QVERIFY(refreshed.wait());
        QCOMPARE(h.session->pullError(),
                 std::optional<QString>("Couldn't get x:1: Unexpected Ollama response: nope"));
        QCOMPARE(h.session->recommended().size(), 2);
    }

    void closingTheWindowMidDownloadClosesTheTransfer()
    {
        ModelsHarness h(50);
        h.installed("[]");
        h.server.route("POST", "/api/pull", FakeResponse().write(progressLine(1, 10)).hold());
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        h.session->pull(QStringLiteral("alpha:4b"));
        QVERIFY(waitUntil(h.session, SIGNAL(pullingChanged()),
                          [&] { return h.session->pulling().value("alpha:4b") > 0; }));
        delete h.session;
        h.session = nullptr;
        QVERIFY(disconnected.wait());
    }
};

QTEST_GUILESS_MAIN(TestDownloads)
#include "tst_downloads.moc"
