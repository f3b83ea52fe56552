#include "fakehttpserver.h"
#include "models/ollamaclient.h"
#include "testenvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

QByteArray line(const QByteArray &json)
{
    return json + '\n';
}

QByteArray piece(const char *content)
{
    return line(
        QByteArray(
            R"({"model":"qwen2.5","created_at":"2025-06-20T14:35:16.953867442Z","message":{"role":"assistant","content":")") +
        content + R"("},"done":false})");
}

const QByteArray kDone = line(
    R"({"model":"qwen2.5","message":{"role":"assistant","content":""},"done_reason":"stop","done":true,"eval_count":10})");

// Everything one stream produced.
struct Outcome
{
    QList<ChatElement> elements;
    bool finished = false;
    std::optional<OllamaError> error;

    QString contentText() const
    {
        QString text;
        for (const ChatElement &element : elements)
            text += element.content.value_or(QString());
        return text;
    }
};

} // namespace

Q_DECLARE_METATYPE(FakeResponse)

class TestOllamaChat : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private:
    // Runs one chat against the server and waits for its end.
    Outcome chat(FakeHttpServer &server, OllamaClient::Limits limits = {})
    {
        OllamaClient client(nullptr, server.url());
        client.setLimits(limits);
        return chat(client);
    }

    Outcome chat(OllamaClient &client)
    {
        Outcome outcome;
        QObject owner;
        ChatStream *stream = client.streamChat(QStringLiteral("qwen2.5"), QJsonArray{}, &owner);
        connect(stream, &ChatStream::element, &owner,
                [&](const ChatElement &e) { outcome.elements.append(e); });
        connect(stream, &ChatStream::finished, &owner, [&](const std::optional<OllamaError> &error) {
            outcome.finished = true;
            outcome.error = error;
        });
        QSignalSpy finished(stream, &ChatStream::finished);
        if (!finished.wait(20000))
            qWarning("the stream did not finish");
        return outcome;
    }

private slots:
    void theRequestIsExactlyWhatTheServerExpects()
    {
        FakeHttpServer server;
        server.route("POST", "/api/chat", FakeResponse().write(kDone));
        OllamaClient client(nullptr, server.url());
        QObject owner;
        const QJsonArray messages{QJsonObject{{"role", "user"}, {"content", "Draw: a fox"}}};
        ChatStream *stream = client.streamChat(QStringLiteral("gemma3:4b"), messages, &owner);
        QSignalSpy finished(stream, &ChatStream::finished);
        QVERIFY(finished.wait());

        QCOMPARE(server.requests().size(), 1);
        const RecordedRequest request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/api/chat"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        QCOMPARE(body.keys(), (QStringList{"keep_alive", "messages", "model", "stream"}));
        QCOMPARE(body.value("model").toString(), QStringLiteral("gemma3:4b"));
        QCOMPARE(body.value("messages").toArray(), messages);
        QCOMPARE(body.value("stream"), QJsonValue(true));
        QCOMPARE(body.value("keep_alive").toString(), QStringLiteral("10m"));
    }

    void answerAndThinkingPiecesArriveInOrder()
    {
        FakeHttpServer server;
        server.route(
            "POST", "/api/chat",
            FakeResponse()
                .write(
                    line(R"({"message":{"role":"assistant","content":"","thinking":"Okay"},"done":false})"))
                .write(line(R"({"message":{"role":"assistant","content":"","thinking":" so"},"done":false})"))
                .write(piece("<svg"))
                .write(line(R"({"message":{"content":"x","thinking":"both"}})"))
                .write(kDone));
        const Outcome outcome = chat(server);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.error);
        QCOMPARE(outcome.elements.size(), 4);
        // Thinking-only lines: the empty content is still delivered as an empty string.
        QCOMPARE(outcome.elements[0].thinking, std::optional<QString>("Okay"));
        QCOMPARE(outcome.elements[0].content, std::optional<QString>(""));
        QCOMPARE(outcome.elements[1].thinking, std::optional<QString>(" so"));
        QCOMPARE(outcome.elements[2].content, std::optional<QString>("<svg"));
        QCOMPARE(outcome.elements[2].thinking, std::nullopt);
        QCOMPARE(outcome.elements[3].content, std::optional<QString>("x"));
        QCOMPARE(outcome.elements[3].thinking, std::optional<QString>("both"));
    }

    void linesWithoutUsableTextAreSkipped()
    {
        FakeHttpServer server;
        server.route("POST", "/api/chat",
                     FakeResponse()
                         .write("\n\r\n   \n")
                         .write("this is not json\n")
                         .write("[1,2,3]\n")
                         .write("\"a string\"\n")
                         .write(line(R"({"message":"not an object"})"))
                         .write(line(R"({"message":{"content":42,"thinking":["x"]}})"))
                         .write(line(R"({"message":{"content":""}})"))
                         .write(line(R"({"message":{"content":"","thinking":""}})"))
                         .write(line(R"({"error":17})"))
                         .write(line(R"({"status":"something else"})"))
                         .write(line(R"({"message":{"content":"kept","thinking":7}})"))
                         .write(kDone));
        const Outcome outcome = chat(server);
        QVERIFY(!outcome.error);
        QCOMPARE(outcome.elements.size(), 1);
        QCOMPARE(outcome.elements[0].content, std::optional<QString>("kept"));
        QCOMPARE(outcome.elements[0].thinking, std::nullopt);
    }

    void linesSplitAcrossChunksAnywhereArriveWhole()
    {
        const QByteArray body = piece("caf\xc3\xa9 ") + piece("\xe2\x80\x94 \xf0\x9f\x8e\xa8") +
                                line(R"({"message":{"content":"\r\nend"}})").replace('\n', "\r\n") + kDone;
        for (qsizetype cut = 1; cut < body.size(); cut += 7) {
            FakeHttpServer server;
            server.route("POST", "/api/chat",
                         FakeResponse().write(body.left(cut)).pause(2).write(body.mid(cut)));
            const Outcome outcome = chat(server);
            QVERIFY(!outcome.error);
            QCOMPARE(outcome.contentText(), QStringLiteral("café — 🎨\r\nend"));
        }
    }

    void aFinalLineWithoutNewlineCounts()
    {
        FakeHttpServer server;
        server.route("POST", "/api/chat",
                     FakeResponse(200, FakeResponse::Framing::CloseDelimited)
                         .write(piece("one"))
                         .write(R"({"message":{"content":"two"}})"));
        const Outcome outcome = chat(server);
        QVERIFY(!outcome.error);
        QCOMPARE(outcome.contentText(), QStringLiteral("onetwo"));
    }

    void anErrorObjectEndsTheStreamWhateverTheStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("404 before streaming") << 404;
        QTest::newRow("200 mid-stream") << 200;
        QTest::newRow("500") << 500;
        QTest::newRow("400") << 400;
    }
    void anErrorObjectEndsTheStreamWhateverTheStatus()
    {
        QFETCH(int, status);
        FakeHttpServer server;
        server.route("POST", "/api/chat",
                     FakeResponse(status)
                         .write(piece("before"))
                         .write(line(R"({"error":"model 'llama3.2' not found"})"))
                         .write(piece("after")));
        const Outcome outcome = chat(server);
        QVERIFY(outcome.error);
        QCOMPARE(outcome.error->kind(), OllamaError::Kind::BadResponse);
        QCOMPARE(outcome.error->message(), QStringLiteral("model 'llama3.2' not found"));
        QCOMPARE(outcome.error->description(),
                 QStringLiteral("Unexpected Ollama response: model 'llama3.2' not found"));
        QCOMPARE(outcome.contentText(), QStringLiteral("before"));
    }

    void aNonJsonErrorPageEndsNormallyWithNothing()
    {
        FakeHttpServer server;
        server.route("POST", "/api/chat",
                     FakeResponse(500, FakeResponse::Framing::ContentLength)
                         .header("Content-Type", "text/html")
                         .write("<html><body>Internal Server Error</body></html>\n"));
        const Outcome outcome = chat(server);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.error);
        QVERIFY(outcome.elements.isEmpty());
    }

    void nothingListeningIsNotRunning()
    {
        quint16 port;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        OllamaClient client(nullptr, QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
        const Outcome outcome = chat(client);
        QVERIFY(outcome.error);
        QCOMPARE(outcome.error->kind(), OllamaError::Kind::NotRunning);
        QCOMPARE(outcome.error->description(), QStringLiteral("Ollama isn't running on localhost:11434."));
    }

    // Announced length, fewer bytes: Qt 6.4 reports this reliably (a cut chunked body it sometimes
    // takes for a normal end, which the runs survive the same way).
    void aDropMidStreamKeepsWhatArrivedAndFails()
    {
        FakeHttpServer server;
        server.route("POST", "/api/chat",
                     FakeResponse(200, FakeResponse::Framing::ContentLength)
                         .write(piece("kept"))
                         .write("{\"message\":{\"con")
                         .drop()
                         .write("tent\":\"lost\"}}\n"));
        const Outcome outcome = chat(server);
        QCOMPARE(outcome.contentText(), QStringLiteral("kept"));
        QVERIFY(outcome.error);
        QCOMPARE(outcome.error->kind(), OllamaError::Kind::Other);
        QVERIFY(!outcome.error->description().isEmpty());
    }

    // Before its first line the server is loading the model, which takes long; after it, a short
    // silence is a stall.
    void silenceEndsTheStreamAtTheLimitOfItsPhase_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("timedOut");
        QTest::newRow("a slow load is waited for")
            << FakeResponse().pause(600).write(piece("a")).write(piece("b")).write(kDone) << "ab" << false;
        QTest::newRow("no first line at all") << FakeResponse().hold() << "" << true;
        QTest::newRow("a stall after the first line")
            << FakeResponse().write(piece("slow")).hold() << "slow" << true;
    }
    void silenceEndsTheStreamAtTheLimitOfItsPhase()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QString, content);
        QFETCH(bool, timedOut);
        FakeHttpServer server;
        server.route("POST", "/api/chat", reply);
        OllamaClient::Limits limits;
        limits.chatFirstLineMs = 1500;
        limits.chatIdleMs = 200;
        const Outcome outcome = chat(server, limits);
        QCOMPARE(outcome.contentText(), content);
        QCOMPARE(outcome.error.has_value(), timedOut);
        if (timedOut)
            QCOMPARE(outcome.error->description(), QStringLiteral("The request timed out."));
    }

    // Lines that keep coming keep an idle limit from firing; only the total limit ends it.
    void theTotalLimitEndsEvenABusyStream()
    {
        FakeHttpServer server;
        FakeResponse busy;
        for (int i = 0; i < 400; ++i)
            busy.write(piece("x")).pause(5);
        server.route("POST", "/api/chat", busy);
        OllamaClient::Limits limits;
        limits.chatIdleMs = 1000;
        limits.resourceMs = 400;
        const Outcome outcome = chat(server, limits);
        QVERIFY(outcome.error);
        QCOMPARE(outcome.error->description(), QStringLiteral("The request timed out."));
        QVERIFY(!outcome.elements.isEmpty());
    }

    void anOverlongLineEndsTheStreamWithAClearError()
    {
        FakeHttpServer server;
        FakeResponse huge;
        huge.write(piece("first"));
        const QByteArray mebibyte(1024 * 1024, 'x');
        for (int i = 0; i < 17; ++i)
            huge.write(mebibyte);
        huge.write("\n");
        server.route("POST", "/api/chat", huge);
        const Outcome outcome = chat(server);
        QCOMPARE(outcome.contentText(), QStringLiteral("first"));
        QVERIFY(outcome.error);
        QVERIFY2(outcome.error->description().contains(QStringLiteral("too long")),
                 qPrintable(outcome.error->description()));
    }

    void cancellingClosesTheRequestAndEmitsNothingMore()
    {
        FakeHttpServer server;
        server.route("POST", "/api/chat", FakeResponse().write(piece("one")).hold().write(piece("two")));
        OllamaClient client(nullptr, server.url());
        QObject owner;
        ChatStream *stream = client.streamChat(QStringLiteral("m"), QJsonArray{}, &owner);
        QSignalSpy elements(stream, &ChatStream::element);
        QSignalSpy finished(stream, &ChatStream::finished);
        QSignalSpy disconnected(&server, &FakeHttpServer::clientDisconnected);
        QVERIFY(elements.wait());
        stream->cancel();
        QVERIFY(stream->isCancelled());
        QVERIFY(disconnected.wait());
        QCoreApplication::processEvents();
        QCOMPARE(elements.size(), 1);
        QCOMPARE(finished.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestOllamaChat)
#include "tst_ollamachat.moc"
