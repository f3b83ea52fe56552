#include "fakehttpserver.h"
#include "models/ollamaclient.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray ln(const char *json)
{
    return QByteArray(json) + '\n';
}

QByteArray piece(const QByteArray &content)
{
    return ln(
        R"({"model":"qwen2.5","created_at":"2025-06-20T14:35:16.953867442Z","message":{"role":"assistant","content":")" +
        content + "\"},\"done\":false}");
}

const QByteArray kDone =
    ln(R"({"model":"qwen2.5","message":{"content":""},"done_reason":"stop","done":true})");

// A piece as "content|thinking", each "-" when absent.
QString describe(const ChatElement &element)
{
    return element.content.value_or("-") + '|' + element.thinking.value_or("-");
}

} // namespace

Q_DECLARE_METATYPE(FakeResponse)

class TestOllamaChat : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // What the stream hands on and how it ends. Limits are short: until the first line the model
    // loads (1.5 s), after it 200 ms of silence is a stall.
    void aReplyBecomesPiecesAndAnEnd_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<QString>("error");
        const QString ok;
        const QString timedOut = QStringLiteral("The request timed out.");
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
            << QStringList{"|Okay", "-| so", "<svg|-", "x|both", "kept|-"} << ok;
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
            << QStringList{"café |-", "\r\nend|-"} << ok;
        QTest::newRow("a final line without a line end")
            << FakeResponse(200, FakeResponse::Framing::CloseDelimited)
                   .write(piece("one"))
                   .write(R"({"message":{"content":"two"}})")
            << QStringList{"one|-", "two|-"} << ok;
        QTest::newRow("nothing listening")
            << FakeResponse(0) << QStringList{} << QStringLiteral("Ollama isn't running on localhost:11434.");
        QTest::newRow("a slow model load is waited for")
            << FakeResponse().pause(600).write(piece("a")).write(piece("b")).write(kDone)
            << QStringList{"a|-", "b|-"} << ok;
        QTest::newRow("no first line at all") << FakeResponse().hold() << QStringList{} << timedOut;
        QTest::newRow("a stall after the first line")
            << FakeResponse().write(piece("slow")).hold() << QStringList{"slow|-"} << timedOut;
        FakeResponse huge = FakeResponse().write(piece("first"));
        for (int i = 0; i < 17; ++i)
            huge.write(QByteArray(1024 * 1024, 'x'));
        QTest::newRow("a line over 16 MiB") << huge.write("\n") << QStringList{"first|-"}
                                            << QStringLiteral("The reply line was too long (over 16 MiB).");
    }
    void aReplyBecomesPiecesAndAnEnd()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QStringList, pieces);
        QFETCH(QString, error);
        FakeHttpServer server;
        server.route("POST", "/api/chat", reply);
        // Status 0: a port where nothing listens.
        OllamaClient client(nullptr,
                            reply.status() ? server.url() : QUrl(QStringLiteral("http://127.0.0.1:1")));
        OllamaClient::Limits limits;
        limits.chatFirstLineMs = 1500;
        limits.chatIdleMs = 200;
        client.setLimits(limits);
        const QJsonArray messages{QJsonObject{{"role", "user"}, {"content", "Draw: a fox"}}};
        QObject owner;
        ChatStream *stream = client.streamChat(QStringLiteral("gemma3:4b"), messages, &owner);
        QStringList seen;
        connect(stream, &ChatStream::element, &owner,
                [&](const ChatElement &e) { seen.append(describe(e)); });
        QSignalSpy finished(stream, &ChatStream::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.size(), 1);
        const auto outcome = finished.first().first().value<std::optional<OllamaError>>();
        QCOMPARE(outcome ? outcome->description() : QString(), error);
        QCOMPARE(seen, pieces);
        if (reply.status() == 0)
            return;
        const RecordedRequest request = server.requests().first();
        QCOMPARE(request.method + ' ' + request.path, QByteArray("POST /api/chat"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(
            QJsonDocument::fromJson(request.body).object(),
            (QJsonObject{
                {"model", "gemma3:4b"}, {"messages", messages}, {"stream", true}, {"keep_alive", "10m"}}));
    }
};

QTEST_GUILESS_MAIN(TestOllamaChat)
#include "tst_ollamachat.moc"
