#include "fakehttpserver.h"
#include "models/ollamaclient.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

QByteArray ln(const QByteArray &json)
{
    return json + '\n';
}

QByteArray piece(const QByteArray &content)
{
    return ln(
        R"({"model":"qwen2.5","created_at":"2025-06-20T14:35:16.953867442Z","message":{"role":"assistant","content":")" +
        content + "\"},\"done\":false}");
}

const QByteArray kDone =
    ln(R"({"model":"qwen2.5","message":{"content":""},"done_reason":"stop","done":true})");
const QJsonArray kMessages{QJsonObject{{"role", "user"}, {"content", "Draw: a fox"}}};
const QString kNotRunning = QStringLiteral("Ollama isn't running on localhost:11434.");
const QString kTimedOut = QStringLiteral("The request timed out.");

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

// Each request to the local model server, one table per endpoint: a reply, what the request handed
// on ("seen", joined by "; ") and the error it ended with, if any. A reply of status 0 stands for a
// port where nothing listens.
class TestOllamaClient : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private:
    static void columns()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("seen");
        QTest::addColumn<QString>("error");
    }

    // Sends the request to path with those limits and checks the row's outcome, once, and the body sent.
    static void run(const QByteArray &method, const QByteArray &path, const OllamaClient::Limits &limits,
                    const QJsonObject &sent)
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QString, seen);
        QFETCH(QString, error);
        FakeHttpServer server;
        server.route(method, path, reply);
        OllamaClient client(nullptr,
                            reply.status() ? server.url() : QUrl(QStringLiteral("http://127.0.0.1:1")));
        client.setLimits(limits);
        QObject owner;
        QStringList got;
        QList<std::optional<OllamaError>> ends;
        const auto end = [&](const std::optional<OllamaError> &outcome) {
            ends.append(outcome);
        };
        if (path == "/api/chat") {
            ChatStream *stream = client.streamChat(QStringLiteral("gemma3:4b"), kMessages, &owner);
            // A piece as "content|thinking", each "-" when absent.
            connect(stream, &ChatStream::element, &owner, [&](const ChatElement &e) {
                got.append(e.content.value_or("-") + '|' + e.thinking.value_or("-"));
            });
            connect(stream, &ChatStream::finished, &owner, end);
        } else if (path == "/api/tags") {
            connect(client.listModels(&owner), &ListModelsJob::finished, &owner,
                    [&](const QList<OllamaModel> &models, const std::optional<OllamaError> &outcome) {
                        for (const OllamaModel &model : models)
                            got.append(describe(model));
                        end(outcome);
                    });
        } else if (path == "/api/pull") {
            PullStream *stream = client.pull(QStringLiteral("gemma3:1b"), &owner);
            connect(stream, &PullStream::progress, &owner, [&](double f) { got.append(QString::number(f)); });
            connect(stream, &PullStream::finished, &owner, end);
        } else {
            connect(client.deleteModel(QStringLiteral("llama3:13b"), &owner), &DeleteModelJob::finished,
                    &owner, end);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!ends.isEmpty(), 20000);
        QCOMPARE(ends.size(), 1);
        QCOMPARE(ends.first() ? ends.first()->description() : QString(), error);
        QCOMPARE(got.join("; "), seen);
        if (reply.status())
            QCOMPARE(QJsonDocument::fromJson(server.requests().first().body).object(), sent);
    }

private Q_SLOTS:
    // A demo may point the app at a stand-in on another loopback port; nothing else gets through, so
    // prompts never leave the machine.
    void theAddressOverrideStaysOnThisMachine()
    {
        QCOMPARE(OllamaClient::baseFor("http://127.0.0.1:5000/x?y=1"), QUrl("http://127.0.0.1:5000"));
        for (const char *text : {"", "http://example.com:11434", "http://127.0.0.1.example.com:80",
                                 "https://127.0.0.1:8443", "http://127.0.0.1"})
            QCOMPARE(OllamaClient::baseFor(text), QUrl("http://localhost:11434"));
    }

    // A chat reply. Limits are short: until the first line the model loads (1.5 s), after it 200 ms of
    // silence is a stall.
    void aReplyBecomesPiecesAndAnEnd_data()
    {
        columns();
        // Lines without usable text (blank, not JSON, not an object, members of the wrong type or
        // empty) are skipped; a piece may carry thinking, answer or both.
        QTest::newRow("pieces in order, unusable lines skipped")
            << FakeResponse()
                   .write(
                       ln(R"({"message":{"role":"assistant","content":"","thinking":"Okay"},"done":false})"))
                   .write("\n\r\n   \nthis is not json\n[1,2,3]\n\"a string\"\n" +
                          ln(R"({"message":"not an object"})") +
                          ln(R"({"message":{"content":42,"thinking":["x"]}})"))
                   .write(ln(R"({"message":{"role":"assistant","thinking":" so"},"done":false})"))
                   .write(ln(R"({"message":{"content":""}})") +
                          ln(R"({"message":{"content":"","thinking":""}})") + ln(R"({"error":17})") +
                          ln(R"({"status":"something else"})"))
                   .write(piece("<svg") + ln(R"({"message":{"content":"x","thinking":"both"}})"))
                   .write(ln(R"({"message":{"content":"kept","thinking":7}})") + kDone)
            << "|Okay; -| so; <svg|-; x|both; kept|-" << QString();
        const QByteArray split =
            piece("caf\xc3\xa9 ") + "{\"message\":{\"content\":\"\\r\\nend\"}}\r\n" + kDone;
        const qsizetype character = split.indexOf('\xa9'), crlf = split.indexOf("\r\n") + 1;
        QTest::newRow("cut inside a UTF-8 character and between CR and LF")
            << FakeResponse()
                   .write(split.left(character))
                   .pause(5)
                   .write(split.mid(character, crlf - character))
                   .pause(5)
                   .write(split.mid(crlf))
            << "café |-; \r\nend|-" << QString();
        QTest::newRow("a final line without a line end")
            << FakeResponse().write(piece("one")).write(R"({"message":{"content":"two"}})") << "one|-; two|-"
            << QString();
        QTest::newRow("nothing listening") << FakeResponse(0) << QString() << kNotRunning;
        QTest::newRow("a slow model load is waited for")
            << FakeResponse().pause(1800).write(piece("a")).write(piece("b")).write(kDone) << "a|-; b|-"
            << QString();
        QTest::newRow("no first line at all") << FakeResponse().hold() << QString() << kTimedOut;
        QTest::newRow("a stall after the first line")
            << FakeResponse().write(piece("slow")).hold() << "slow|-" << kTimedOut;
        FakeResponse huge = FakeResponse().write(piece("first"));
        for (int i = 0; i < 17; ++i)
            huge.write(QByteArray(1024 * 1024, 'x'));
        QTest::newRow("a line over 16 MiB")
            << huge.write("\n") << "first|-" << QStringLiteral("The reply line was too long (over 16 MiB).");
    }
    void aReplyBecomesPiecesAndAnEnd()
    {
        run("POST", "/api/chat", {.chatFirstLineMs = 3000, .chatIdleMs = 1000},
            {{"model", "gemma3:4b"}, {"messages", kMessages}, {"stream", true}, {"keep_alive", "10m"}});
    }

    // The installed models, read member by member and sorted tool-capable first (capabilities missing
    // or unreadable: tools, no vision), then by name; dates with 0 to 9 fractional digits and a zone,
    // anything else none. A body that is not a listing is a bad response quoting its first 200 bytes,
    // and a cut-off one means the server is not running.
    void listing_data()
    {
        columns();
        const auto listing = [](const QByteArray &models) {
            return FakeResponse::json(200, "{\"models\":[" + models + "]}");
        };
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
               "0; s2 T- 0 2025-06-07T20:14:39.000Z; s3 T- 12; Text T- 0; cased -- 0; E -- 0"
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
        QTest::newRow("dropped mid-body") << FakeResponse(200, FakeResponse::Framing::ContentLength)
                                                 .write("{\"mod")
                                                 .drop()
                                                 .write("els\":[]}")
                                          << QString() << kNotRunning;
    }
    void listing() { run("GET", "/api/tags", {}, {}); }

    // A download reports each progress line's own fraction (neither accumulated nor clamped); only the
    // end of the stream is success. Its total and management limits do not apply (both 200 ms here):
    // only 1.5 s of silence ends it.
    void pulling_data()
    {
        columns();
        QTest::newRow("progress per line")
            << FakeResponse()
                   .write("{\"status\":\"pulling manifest\"}\n")
                   .write("{\"status\":\"pulling 26bd\",\"total\":400,\"completed\":100}\n{\"total\":400,")
                   .write("\"completed\":300}\r\n{\"total\":10,\"completed\":1}\n{\"total\":10,\"completed\":"
                          "15}\n")
                   .write(
                       "{\"total\":0,\"completed\":0}\n{\"total\":\"10\",\"completed\":1}\n{\"total\":10}\n")
                   .write("{\"total\":1e-300,\"completed\":1e300}\nnot json\n\n{\"status\":\"success\"}\n")
            << "0.25; 0.75; 0.1; 1.5" << QString();
        // A refusal's body may come over several lines.
        QTest::newRow("refused with an error object")
            << FakeResponse(400, FakeResponse::Framing::ContentLength).write("{\"error\":\n\"bad name\"}\n")
            << QString() << bad("bad name");
        QTest::newRow("refused, empty body") << FakeResponse(500, FakeResponse::Framing::ContentLength)
                                             << QString() << bad("pull failed (HTTP 500)");
        QTest::newRow("refused with an endless page: its start")
            << FakeResponse(502).writeEach(QList<QByteArray>(2000, QByteArray(1000, 'x') + '\n')) << QString()
            << bad(QString(200, 'x'));
        const QByteArray progress = "{\"total\":10,\"completed\":1}\n";
        FakeResponse busy;
        for (int i = 0; i < 10; ++i)
            busy.write(progress).pause(50);
        QTest::newRow("busy past every other limit")
            << busy << QStringList(10, "0.1").join("; ") << QString();
        QTest::newRow("a silent verification")
            << FakeResponse().write(progress).pause(600).write("{\"status\":\"success\"}\n") << "0.1"
            << QString();
        QTest::newRow("stalled") << FakeResponse().write(progress).hold() << "0.1" << kTimedOut;
    }
    void pulling()
    {
        run("POST", "/api/pull", {.resourceMs = 200, .pullIdleMs = 1500, .managementIdleMs = 200},
            {{"model", "gemma3:1b"}, {"stream", true}});
    }

    // Removing a model: only a 200 is success; a refusal explains itself when it can, and no answer at
    // all is not mistaken for the server not running.
    void aRefusedDeleteExplainsItself_data()
    {
        columns();
        QTest::newRow("error not a string")
            << FakeResponse::json(500, R"({"error":[1]})") << QString() << bad("delete failed");
        QTest::newRow("nothing listening")
            << FakeResponse(0) << QString() << QStringLiteral("Could not connect to the server.");
    }
    void aRefusedDeleteExplainsItself() { run("DELETE", "/api/delete", {}, {{"model", "llama3:13b"}}); }
};

QTEST_GUILESS_MAIN(TestOllamaClient)
#include "tst_ollamaclient.moc"
