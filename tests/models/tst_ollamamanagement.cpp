#include "fakehttpserver.h"
#include "models/ollamaclient.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

QUrl closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort()));
}

struct Listing
{
    QList<OllamaModel> models;
    std::optional<OllamaError> error;
};

Listing list(const QUrl &base)
{
    OllamaClient client(nullptr, base);
    QObject owner;
    Listing listing;
    ListModelsJob *job = client.listModels(&owner);
    QObject::connect(job, &ListModelsJob::finished, &owner,
                     [&](const QList<OllamaModel> &models, const std::optional<OllamaError> &error) {
                         listing.models = models;
                         listing.error = error;
                     });
    QSignalSpy finished(job, &ListModelsJob::finished);
    if (!finished.wait(20000))
        qWarning("the listing did not finish");
    return listing;
}

QStringList names(const QList<OllamaModel> &models)
{
    QStringList result;
    for (const OllamaModel &model : models)
        result.append(model.name);
    return result;
}

struct PullOutcome
{
    QList<double> fractions;
    bool finished = false;
    std::optional<OllamaError> error;
};

PullOutcome pullFrom(const QUrl &base, const QString &model = QStringLiteral("gemma3:1b"))
{
    OllamaClient client(nullptr, base);
    QObject owner;
    PullOutcome outcome;
    PullStream *stream = client.pull(model, &owner);
    QObject::connect(stream, &PullStream::progress, &owner, [&](double f) { outcome.fractions.append(f); });
    QObject::connect(stream, &PullStream::finished, &owner, [&](const std::optional<OllamaError> &error) {
        outcome.finished = true;
        outcome.error = error;
    });
    QSignalSpy finished(stream, &PullStream::finished);
    if (!finished.wait(20000))
        qWarning("the pull did not finish");
    return outcome;
}

std::optional<OllamaError> deleteFrom(const QUrl &base, const QString &model)
{
    OllamaClient client(nullptr, base);
    QObject owner;
    std::optional<OllamaError> result;
    DeleteModelJob *job = client.deleteModel(model, &owner);
    QObject::connect(job, &DeleteModelJob::finished, &owner,
                     [&](const std::optional<OllamaError> &e) { result = e; });
    QSignalSpy finished(job, &DeleteModelJob::finished);
    if (!finished.wait(20000))
        qWarning("the delete did not finish");
    return result;
}

} // namespace

Q_DECLARE_METATYPE(FakeResponse)

class TestOllamaManagement : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // A demo may point the app at a stand-in on another loopback port; nothing else gets through.
    void theAddressOverrideStaysOnThisMachine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("base");
        const QString fixed = QStringLiteral("http://localhost:11434");
        QTest::newRow("unset") << QString() << fixed;
        QTest::newRow("loopback with port") << "http://127.0.0.1:40123"
                                            << "http://127.0.0.1:40123";
        QTest::newRow("path and query dropped") << "http://localhost:5000/x?y=1"
                                                << "http://localhost:5000";
        QTest::newRow("remote host") << "http://example.com:11434" << fixed;
        QTest::newRow("lookalike host") << "http://127.0.0.1.example.com:80" << fixed;
        QTest::newRow("user info") << "http://me:pw@127.0.0.1:8080" << fixed;
        QTest::newRow("https") << "https://127.0.0.1:8443" << fixed;
        QTest::newRow("no port") << "http://127.0.0.1" << fixed;
        QTest::newRow("garbage") << "::::" << fixed;
    }
    void theAddressOverrideStaysOnThisMachine()
    {
        QFETCH(QString, text);
        QFETCH(QString, base);
        QCOMPARE(OllamaClient::baseFor(text).toString(), base);
    }

    // ---- listing ----

    void aRealListingDecodes()
    {
        FakeHttpServer server;
        server.route(
            "GET", "/api/tags",
            FakeResponse::json(
                200,
                R"({"models":[{"name":"gemma3:1b","model":"gemma3:1b","modified_at":"2026-06-23T10:00:15.7672409+02:00","size":815319791,"digest":"8648f39daa8f","details":{"family":"gemma3","parameter_size":"999.89M","quantization_level":"Q4_K_M"},"capabilities":["completion"]},{"name":"llava:7b","size":4733363377,"modified_at":"2025-01-02T03:04:05Z","capabilities":["completion","vision","tools"]}]})"));
        const Listing listing = list(server.url());
        QVERIFY(!listing.error);
        QCOMPARE(names(listing.models), (QStringList{"llava:7b", "gemma3:1b"}));
        const OllamaModel &gemma = listing.models[1];
        QCOMPARE(gemma.sizeBytes, 815319791);
        QVERIFY(!gemma.tools);
        QVERIFY(!gemma.vision);
        QCOMPARE(gemma.modifiedAt.toUTC(), QDateTime(QDate(2026, 6, 23), QTime(8, 0, 15, 767), Qt::UTC));
        QVERIFY(listing.models[0].tools && listing.models[0].vision);
        QCOMPARE(listing.models[0].sizeBytes, Q_INT64_C(4733363377));
        QCOMPARE(server.requests().first().method, QByteArray("GET"));
    }

    void entriesAreReadMemberByMember_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("tools");
        QTest::addColumn<bool>("vision");
        QTest::addColumn<qint64>("size");
        QTest::newRow("no capabilities: tools, no vision")
            << QByteArray(R"({"name":"m"})") << true << false << qint64(0);
        QTest::newRow("empty capabilities: neither")
            << QByteArray(R"({"name":"m","capabilities":[]})") << false << false << qint64(0);
        QTest::newRow("capabilities not a list")
            << QByteArray(R"({"name":"m","capabilities":"vision"})") << true << false << qint64(0);
        QTest::newRow("capabilities with a non-string")
            << QByteArray(R"({"name":"m","capabilities":["vision",3]})") << true << false << qint64(0);
        QTest::newRow("capability matched exactly")
            << QByteArray(R"({"name":"m","capabilities":["Vision","tools "]})") << false << false
            << qint64(0);
        QTest::newRow("size as a string is 0")
            << QByteArray(R"({"name":"m","size":"12"})") << true << false << qint64(0);
        QTest::newRow("fractional size is not a size")
            << QByteArray(R"({"name":"m","size":12.9})") << true << false << qint64(0);
        QTest::newRow("whole size") << QByteArray(R"({"name":"m","size":12.0})") << true << false
                                    << qint64(12);
    }
    void entriesAreReadMemberByMember()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, tools);
        QFETCH(bool, vision);
        QFETCH(qint64, size);
        const auto result = ListModelsJob::decode(R"({"models":[)" + entry + "]}");
        QVERIFY(std::holds_alternative<QList<OllamaModel>>(result));
        const OllamaModel model = std::get<QList<OllamaModel>>(result).first();
        QCOMPARE(model.tools, tools);
        QCOMPARE(model.vision, vision);
        QCOMPARE(model.sizeBytes, size);
    }

    void entriesWithoutAStringNameAreDropped()
    {
        const auto result = ListModelsJob::decode(
            R"({"models":[{"name":"a:1"},{"name":42},{"model":"x"},{"name":null},{"name":"b:1"}]})");
        QCOMPARE(names(std::get<QList<OllamaModel>>(result)), (QStringList{"a:1", "b:1"}));
    }

    void datesWithAndWithoutFractionsAndZones_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("utc");
        const QDateTime base(QDate(2025, 6, 7), QTime(20, 14, 39), Qt::UTC);
        QTest::newRow("no fraction, Z") << QStringLiteral("2025-06-07T20:14:39Z") << base;
        QTest::newRow("3 digits") << QStringLiteral("2025-06-07T20:14:39.400Z") << base.addMSecs(400);
        QTest::newRow("1 digit") << QStringLiteral("2025-06-07T20:14:39.4Z") << base.addMSecs(400);
        QTest::newRow("9 digits, offset")
            << QStringLiteral("2025-06-07T22:14:39.953867442+02:00") << base.addMSecs(953);
        QTest::newRow("negative offset") << QStringLiteral("2025-06-07T15:44:39-04:30") << base;
        QTest::newRow("lower-case t and z") << QStringLiteral("2025-06-07t20:14:39z") << base;
        QTest::newRow("10 digits") << QStringLiteral("2025-06-07T20:14:39.1234567890Z") << QDateTime();
        QTest::newRow("no zone") << QStringLiteral("2025-06-07T20:14:39") << QDateTime();
        QTest::newRow("a word") << QStringLiteral("yesterday") << QDateTime();
        QTest::newRow("month 13") << QStringLiteral("2025-13-07T20:14:39Z") << QDateTime();
        QTest::newRow("empty fraction") << QStringLiteral("2025-06-07T20:14:39.Z") << QDateTime();
    }
    void datesWithAndWithoutFractionsAndZones()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, utc);
        const QDateTime parsed = ListModelsJob::parseDate(text);
        QCOMPARE(parsed.isValid(), utc.isValid());
        if (utc.isValid())
            QCOMPARE(parsed.toUTC(), utc);
    }

    void anUnparseableDateKeepsTheEntry()
    {
        const auto result = ListModelsJob::decode(
            R"({"models":[{"name":"m","modified_at":"soon"},{"name":"n","modified_at":5}]})");
        const QList<OllamaModel> models = std::get<QList<OllamaModel>>(result);
        QCOMPARE(models.size(), 2);
        QVERIFY(!models[0].modifiedAt.isValid());
        QVERIFY(!models[1].modifiedAt.isValid());
    }

    void toolCapableModelsComeFirstThenByName()
    {
        const auto result = ListModelsJob::decode(
            R"({"models":[{"name":"b","capabilities":["tools"]},{"name":"A","capabilities":[]},{"name":"a","capabilities":["tools"]},{"name":"C"},{"name":"c:2"}]})");
        QCOMPARE(names(std::get<QList<OllamaModel>>(result)), (QStringList{"a", "b", "C", "c:2", "A"}));
    }

    void anEmptyListingIsASuccess()
    {
        const auto result = ListModelsJob::decode(R"({"models":[]})");
        QVERIFY(std::get<QList<OllamaModel>>(result).isEmpty());
    }

    void aBodyThatIsNotAListingIsABadResponse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        const QByteArray page = "<!DOCTYPE html><html><body>" + QByteArray(300, 'x') + "</body></html>";
        QTest::newRow("an HTML page: its first 200 bytes") << page << QString::fromLatin1(page.left(200));
        QTest::newRow("models missing") << QByteArray(R"({"other":1})") << QStringLiteral(R"({"other":1})");
        QTest::newRow("models not a list")
            << QByteArray(R"({"models":{}})") << QStringLiteral(R"({"models":{}})");
        QTest::newRow("an element not an object") << QByteArray(R"({"models":[{"name":"a"},"b"]})")
                                                  << QStringLiteral(R"({"models":[{"name":"a"},"b"]})");
        QTest::newRow("a top-level list") << QByteArray("[]") << QStringLiteral("[]");
        QTest::newRow("empty body") << QByteArray() << QString();
        // 199 ASCII bytes then a two-byte character: the cut at 200 splits it.
        QTest::newRow("a cut inside a character") << QByteArray(199, 'a') + "\xc3\xa9 more" << QString();
    }
    void aBodyThatIsNotAListingIsABadResponse()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        FakeHttpServer server;
        server.route("GET", "/api/tags", FakeResponse(500, FakeResponse::Framing::ContentLength).write(body));
        const Listing listing = list(server.url());
        QVERIFY(listing.error);
        QCOMPARE(listing.error->kind(), OllamaError::Kind::BadResponse);
        QCOMPARE(listing.error->message(), message);
    }

    void listingFailuresOfTheTransportAreNotRunning()
    {
        const Listing refused = list(closedPort());
        QVERIFY(refused.error);
        QCOMPARE(refused.error->kind(), OllamaError::Kind::NotRunning);

        FakeHttpServer server;
        server.route("GET", "/api/tags",
                     FakeResponse(200, FakeResponse::Framing::ContentLength)
                         .write("{\"mod")
                         .drop()
                         .write("els\":[]}"));
        const Listing dropped = list(server.url());
        QVERIFY(dropped.error);
        QCOMPARE(dropped.error->description(), QStringLiteral("Ollama isn't running on localhost:11434."));
    }

    // ---- downloading ----

    void aPullSendsTheModelAndReportsEachLinesFraction()
    {
        FakeHttpServer server;
        server.route(
            "POST", "/api/pull",
            FakeResponse()
                .write("{\"status\":\"pulling manifest\"}\n")
                .write("{\"status\":\"pulling "
                       "26bd\",\"digest\":\"sha256:26bd\",\"total\":400,\"completed\":100}\n{\"status\":"
                       "\"pulling 26bd\",\"total\":400,")
                .write("\"completed\":300}\r\n")
                .write("{\"status\":\"pulling 2\",\"total\":10,\"completed\":1}\n")
                .write("{\"total\":10,\"completed\":15}\n")
                .write("{\"total\":0,\"completed\":0}\n{\"total\":\"10\",\"completed\":1}\n{\"total\":10}\n")
                .write("not json\n\n{\"status\":\"verifying sha256 digest\"}\n{\"status\":\"success\"}\n"));
        const PullOutcome outcome = pullFrom(server.url(), QStringLiteral("gemma3:1b"));
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.error);
        // Per line, not accumulated; it may go down and is not clamped.
        QCOMPARE(outcome.fractions, (QList<double>{0.25, 0.75, 0.1, 1.5}));
        const RecordedRequest request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/api/pull"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                 (QJsonObject{{"model", "gemma3:1b"}, {"stream", true}}));
    }

    void aPullWithoutProgressStillSucceeds()
    {
        FakeHttpServer server;
        server.route("POST", "/api/pull", FakeResponse().write("{\"status\":\"success\"}\n"));
        const PullOutcome outcome = pullFrom(server.url());
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.error);
        QVERIFY(outcome.fractions.isEmpty());
    }

    void anErrorLineEndsThePull()
    {
        FakeHttpServer server;
        server.route("POST", "/api/pull",
                     FakeResponse()
                         .write("{\"status\":\"pulling manifest\"}\n")
                         .write("{\"error\":\"pull model manifest: file does not exist\"}\n")
                         .write("{\"total\":10,\"completed\":5}\n"));
        const PullOutcome outcome = pullFrom(server.url());
        QVERIFY(outcome.error);
        QCOMPARE(outcome.error->description(),
                 QStringLiteral("Unexpected Ollama response: pull model manifest: file does not exist"));
        QVERIFY(outcome.fractions.isEmpty());
    }

    void aRefusedPullExplainsItself_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("404 with an error object")
            << 404 << QByteArray(R"({"error":"model not found"})") << QStringLiteral("model not found");
        QTest::newRow("error object over several lines")
            << 400 << QByteArray("{\"error\":\n\"bad name\"}\n") << QStringLiteral("bad name");
        QTest::newRow("500 with an empty body")
            << 500 << QByteArray() << QStringLiteral("pull failed (HTTP 500)");
        QTest::newRow("503 with one word")
            << 503 << QByteArray("  overloaded \n") << QStringLiteral("overloaded");
        QTest::newRow("plain lines joined")
            << 502 << QByteArray("bad\ngateway\n") << QStringLiteral("badgateway");
        QTest::newRow("error not a string")
            << 400 << QByteArray(R"({"error":5})") << QStringLiteral(R"({"error":5})");
    }
    void aRefusedPullExplainsItself()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        FakeHttpServer server;
        server.route("POST", "/api/pull",
                     FakeResponse(status, FakeResponse::Framing::ContentLength).write(body));
        const PullOutcome outcome = pullFrom(server.url());
        QVERIFY(outcome.error);
        QCOMPARE(outcome.error->kind(), OllamaError::Kind::BadResponse);
        QCOMPARE(outcome.error->message(), message);
    }

    void aPullThatCannotConnectKeepsTheTransportError()
    {
        const PullOutcome outcome = pullFrom(closedPort());
        QVERIFY(outcome.error);
        QCOMPARE(outcome.error->kind(), OllamaError::Kind::Other);
        QVERIFY(!outcome.error->description().isEmpty());
    }

    // A download of many gigabytes may take hours, and the server is silent while it verifies it:
    // only a silence longer than the download's own idle limit ends it.
    void aPullEndsOnlyWhenSilentForItsIdleLimit_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<bool>("timedOut");
        const QByteArray progress = "{\"total\":10,\"completed\":1}\n";
        const QByteArray success = "{\"status\":\"success\"}\n";
        FakeResponse busy;
        for (int i = 0; i < 10; ++i)
            busy.write(progress).pause(50);
        QTest::newRow("busy past every total limit") << busy.write(success) << false;
        QTest::newRow("a silent verification")
            << FakeResponse().write(progress).pause(600).write(success) << false;
        QTest::newRow("stalled") << FakeResponse().write(progress).hold() << true;
    }
    void aPullEndsOnlyWhenSilentForItsIdleLimit()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(bool, timedOut);
        FakeHttpServer server;
        server.route("POST", "/api/pull", reply);
        OllamaClient client(nullptr, server.url());
        OllamaClient::Limits limits;
        limits.resourceMs = 200;
        limits.managementIdleMs = 200;
        limits.pullIdleMs = 1500;
        client.setLimits(limits);
        QObject owner;
        PullStream *stream = client.pull(QStringLiteral("m"), &owner);
        QSignalSpy finished(stream, &PullStream::finished);
        QVERIFY(finished.wait());
        const auto error = finished.first().first().value<std::optional<OllamaError>>();
        QCOMPARE(error.has_value(), timedOut);
        if (timedOut)
            QCOMPARE(error->description(), QStringLiteral("The request timed out."));
    }

    // ---- deleting ----

    void aDeleteSendsTheModelInItsBody()
    {
        FakeHttpServer server;
        server.route("DELETE", "/api/delete", FakeResponse(200, FakeResponse::Framing::ContentLength));
        QCOMPARE(deleteFrom(server.url(), QStringLiteral("llama3:13b")), std::nullopt);
        const RecordedRequest request = server.requests().first();
        QCOMPARE(request.method, QByteArray("DELETE"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), (QJsonObject{{"model", "llama3:13b"}}));
    }

    void aRefusedDeleteExplainsItself_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("404 with an error object")
            << 404 << QByteArray(R"({"error":"model 'llama3:13b' not found"})")
            << QStringLiteral("model 'llama3:13b' not found");
        QTest::newRow("404 without JSON")
            << 404 << QByteArray("Not Found") << QStringLiteral("delete failed");
        QTest::newRow("error not a string")
            << 500 << QByteArray(R"({"error":[1]})") << QStringLiteral("delete failed");
        QTest::newRow("201 is not 200") << 201 << QByteArray() << QStringLiteral("delete failed");
    }
    void aRefusedDeleteExplainsItself()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        FakeHttpServer server;
        server.route("DELETE", "/api/delete",
                     FakeResponse(status, FakeResponse::Framing::ContentLength).write(body));
        const auto error = deleteFrom(server.url(), QStringLiteral("llama3:13b"));
        QVERIFY(error);
        QCOMPARE(error->kind(), OllamaError::Kind::BadResponse);
        QCOMPARE(error->message(), message);
    }

    void aDeleteThatCannotConnectIsNotCalledNotRunning()
    {
        const auto error = deleteFrom(closedPort(), QStringLiteral("m"));
        QVERIFY(error);
        QCOMPARE(error->kind(), OllamaError::Kind::Other);
    }
};

QTEST_GUILESS_MAIN(TestOllamaManagement)
#include "tst_ollamamanagement.moc"
