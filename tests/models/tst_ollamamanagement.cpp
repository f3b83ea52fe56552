#include "fakehttpserver.h"
#include "models/ollamaclient.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

namespace {

QString describe(const std::optional<OllamaError> &error)
{
    return error ? error->description() : QString();
}

QString bad(const QString &message)
{
    return QStringLiteral("Unexpected Ollama response: ") + message;
}

// A model as "name TV size date": T for tools, V for vision, "-" for either missing.
QString describe(const OllamaModel &model)
{
    QString text = model.name + ' ' + (model.tools ? 'T' : '-') + (model.vision ? 'V' : '-') + ' ' +
                   QString::number(model.sizeBytes);
    if (model.modifiedAt.isValid())
        text += ' ' + model.modifiedAt.toUTC().toString(Qt::ISODateWithMs);
    return text;
}

} // namespace

Q_DECLARE_METATYPE(FakeResponse)

class TestOllamaManagement : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // A demo may point the app at a stand-in on another loopback port; nothing else gets through, so
    // prompts never leave the machine.
    void theAddressOverrideStaysOnThisMachine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("base");
        const QString fixed = QStringLiteral("http://localhost:11434");
        QTest::newRow("unset") << QString() << fixed;
        QTest::newRow("loopback: path and query dropped") << "http://127.0.0.1:5000/x?y=1"
                                                          << "http://127.0.0.1:5000";
        QTest::newRow("remote host") << "http://example.com:11434" << fixed;
        QTest::newRow("lookalike host") << "http://127.0.0.1.example.com:80" << fixed;
        QTest::newRow("https") << "https://127.0.0.1:8443" << fixed;
        QTest::newRow("no port") << "http://127.0.0.1" << fixed;
    }
    void theAddressOverrideStaysOnThisMachine()
    {
        QFETCH(QString, text);
        QFETCH(QString, base);
        QCOMPARE(OllamaClient::baseFor(text).toString(), base);
    }

    // The installed models, read member by member and sorted tool-capable first, then by name; a body
    // that is not a listing is a bad response quoting its first 200 bytes, and a cut-off one means the
    // server is not running.
    void listing_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("models");
        QTest::addColumn<QString>("error");
        const auto listing = [](const QByteArray &models) {
            return FakeResponse::json(200, "{\"models\":[" + models + "]}");
        };
        // Tool-capable first (capabilities missing or unreadable: tools, no vision), then by name; dates
        // with 0 to 9 fractional digits and a zone, anything else none.
        QTest::newRow("member by member")
            << listing(
                   R"({"name":"b","size":4733363377,"modified_at":"2026-06-23T10:00:15.7672409+02:00"},)"
                   R"({"name":"E","capabilities":[],"modified_at":"2025-13-07T20:14:39Z"},)"
                   R"({"name":"Text","capabilities":"vision","modified_at":"2025-06-07T20:14:39.1234567890Z"},)"
                   R"({"name":"mixed","capabilities":["vision",3],"modified_at":"2025-06-07T20:14:39"},)"
                   R"({"name":"cased","capabilities":["Vision","tools "],"modified_at":"2025-06-07T20:14:39+24:00"},)"
                   R"({"name":"A","capabilities":["vision","tools"],"modified_at":"2025-06-07t15:44:39.4-04:30"},)"
                   R"({"name":42},{"model":"x"},{"name":"s1","size":"12","modified_at":"soon"},)"
                   R"({"name":"s2","size":12.9,"modified_at":"2025-06-07T20:14:39z"},{"name":"s3","size":12.0})")
            << "A TV 0 2025-06-07T20:14:39.400Z; b T- 4733363377 2026-06-23T08:00:15.767Z; mixed T- 0; s1 T- "
               "0; "
               "s2 T- 0 2025-06-07T20:14:39.000Z; s3 T- 12; Text T- 0; cased -- 0; E -- 0"
            << QString();
        QTest::newRow("empty") << listing("") << QString() << QString();
        const QByteArray page = "<!DOCTYPE html><html><body>" + QByteArray(300, 'x') + "</body></html>";
        QTest::newRow("an HTML page: its first 200 bytes")
            << FakeResponse(500, FakeResponse::Framing::ContentLength).write(page) << QString()
            << bad(QString::fromLatin1(page.left(200)));
        for (const char *body :
             {R"({"other":1})", R"({"models":{}})", R"({"models":[{"name":"a"},"b"]})", "[]"})
            QTest::addRow("not a listing: %s", body)
                << FakeResponse::json(200, body) << QString() << bad(QString::fromLatin1(body));
        // 199 ASCII bytes then a two-byte character: the cut at 200 splits it.
        QTest::newRow("a cut inside a character")
            << FakeResponse::json(200, QByteArray(199, 'a') + "\xc3\xa9 more") << QString() << bad({});
        const QString notRunning = QStringLiteral("Ollama isn't running on localhost:11434.");
        QTest::newRow("dropped mid-body") << FakeResponse(200, FakeResponse::Framing::ContentLength)
                                                 .write("{\"mod")
                                                 .drop()
                                                 .write("els\":[]}")
                                          << QString() << notRunning;
    }
    void listing()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QString, models);
        QFETCH(QString, error);
        FakeHttpServer server;
        server.route("GET", "/api/tags", reply);
        OllamaClient client(nullptr, server.url());
        QObject owner;
        QSignalSpy finished(client.listModels(&owner), &ListModelsJob::finished);
        QVERIFY(finished.wait(20000));
        QStringList listed;
        for (const OllamaModel &model : finished.first().at(0).value<QList<OllamaModel>>())
            listed.append(describe(model));
        QCOMPARE(listed.join("; "), models);
        QCOMPARE(describe(finished.first().at(1).value<std::optional<OllamaError>>()), error);
    }

    // A download reports each progress line's own fraction (neither accumulated nor clamped); only the
    // end of the stream is success. Its total and management limits do not apply (both 200 ms here):
    // only 1.5 s of silence ends it.
    void pulling_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QList<double>>("fractions");
        QTest::addColumn<QString>("error");
        QTest::newRow("progress per line")
            << FakeResponse()
                   .write("{\"status\":\"pulling manifest\"}\n")
                   .write("{\"status\":\"pulling 26bd\",\"total\":400,\"completed\":100}\n{\"total\":400,")
                   .write("\"completed\":300}\r\n{\"total\":10,\"completed\":1}\n{\"total\":10,\"completed\":"
                          "15}\n")
                   .write(
                       "{\"total\":0,\"completed\":0}\n{\"total\":\"10\",\"completed\":1}\n{\"total\":10}\n")
                   .write("not json\n\n{\"status\":\"success\"}\n")
            << QList<double>{0.25, 0.75, 0.1, 1.5} << QString();
        const auto refused = [](int status, const QByteArray &body) {
            return FakeResponse(status, FakeResponse::Framing::ContentLength).write(body);
        };
        QTest::newRow("refused with an error object")
            << refused(404, R"({"error":"model not found"})") << QList<double>{} << bad("model not found");
        QTest::newRow("refused, error object over several lines")
            << refused(400, "{\"error\":\n\"bad name\"}\n") << QList<double>{} << bad("bad name");
        QTest::newRow("refused, empty body")
            << refused(500, {}) << QList<double>{} << bad("pull failed (HTTP 500)");
        QTest::newRow("refused, plain lines joined")
            << refused(502, "  bad\ngateway \n") << QList<double>{} << bad("badgateway");
        const QByteArray progress = "{\"total\":10,\"completed\":1}\n";
        FakeResponse busy;
        for (int i = 0; i < 10; ++i)
            busy.write(progress).pause(50);
        QTest::newRow("busy past every other limit") << busy << QList<double>(10, 0.1) << QString();
        QTest::newRow("a silent verification")
            << FakeResponse().write(progress).pause(600).write("{\"status\":\"success\"}\n")
            << QList<double>{0.1} << QString();
        QTest::newRow("stalled") << FakeResponse().write(progress).hold() << QList<double>{0.1}
                                 << QStringLiteral("The request timed out.");
    }
    void pulling()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QList<double>, fractions);
        QFETCH(QString, error);
        FakeHttpServer server;
        server.route("POST", "/api/pull", reply);
        OllamaClient client(nullptr, server.url());
        OllamaClient::Limits limits;
        limits.resourceMs = 200;
        limits.managementIdleMs = 200;
        limits.pullIdleMs = 1500;
        client.setLimits(limits);
        QObject owner;
        PullStream *stream = client.pull(QStringLiteral("gemma3:1b"), &owner);
        QList<double> seen;
        connect(stream, &PullStream::progress, &owner, [&](double fraction) { seen.append(fraction); });
        QSignalSpy finished(stream, &PullStream::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(seen, fractions);
        QCOMPARE(describe(finished.first().first().value<std::optional<OllamaError>>()), error);
        QCOMPARE(QJsonDocument::fromJson(server.requests().first().body).object(),
                 (QJsonObject{{"model", "gemma3:1b"}, {"stream", true}}));
    }

    // Removing a model: only a 200 is success; a refusal explains itself when it can, and no answer at
    // all is not mistaken for the server not running.
    void aRefusedDeleteExplainsItself_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::newRow("without JSON") << 404 << QByteArray("Not Found") << bad("delete failed");
        QTest::newRow("error not a string") << 500 << QByteArray(R"({"error":[1]})") << bad("delete failed");
        QTest::newRow("nothing listening")
            << 0 << QByteArray() << QStringLiteral("Could not connect to the server.");
    }
    void aRefusedDeleteExplainsItself()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        FakeHttpServer server;
        server.route("DELETE", "/api/delete",
                     FakeResponse(status, FakeResponse::Framing::ContentLength).write(body));
        OllamaClient client(nullptr, status ? server.url() : QUrl(QStringLiteral("http://127.0.0.1:1")));
        QObject owner;
        QSignalSpy finished(client.deleteModel(QStringLiteral("llama3:13b"), &owner),
                            &DeleteModelJob::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(describe(finished.first().first().value<std::optional<OllamaError>>()), error);
    }
};

QTEST_GUILESS_MAIN(TestOllamaManagement)
#include "tst_ollamamanagement.moc"
