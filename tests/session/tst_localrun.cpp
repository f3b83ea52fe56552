#include "canvas/canvascontroller.h"
#include "session/prompts.h"
#include "sessionharness.h"
#include "testenvironment.h"

#include <QImage>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString delta(const QString &text)
{
    return QStringLiteral("window.applyDelta && window.applyDelta(") + CanvasController::js(text) +
           QLatin1Char(')');
}

QString finishCommand(const QString &svg)
{
    return QStringLiteral("window.finishDrawing && window.finishDrawing(") + CanvasController::js(svg) +
           QLatin1Char(')');
}

const QString kReset = QStringLiteral("window.resetCanvas && window.resetCanvas()");

// Writes a small picture in the given format; returns its path.
QString writeImage(const QTemporaryDir &dir, const QString &name, const QByteArray &format)
{
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = dir.filePath(name);
    QImageWriter writer(path, format);
    if (!writer.write(image))
        qWarning("could not write %s: %s", qPrintable(name), qPrintable(writer.errorString()));
    return path;
}

QJsonArray sentMessages(const FakeHttpServer &server)
{
    return QJsonDocument::fromJson(server.requests().last().body).object().value("messages").toArray();
}

} // namespace

class TestLocalRun : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // ---- finding the drawing at the end ----

    void theDrawingIsCutOutOfTheReply_data()
    {
        QTest::addColumn<QList<QByteArray>>("answerPieces");
        QTest::addColumn<QString>("result");
        QTest::newRow("fenced") << QList<QByteArray>{"A red ball.\\n```svg\\n<svg viewBox=\\\"0 0 4 3\\\">",
                                                     "<circle r=\\\"1\\\"/></svg>\\n```\\nThere."}
                                << QStringLiteral("<svg viewBox=\"0 0 4 3\"><circle r=\"1\"/></svg>");
        QTest::newRow("two drawings: the first")
            << QList<QByteArray>{"<svg id=\\\"a\\\"></svg>", "<svg id=\\\"b\\\"></svg>"}
            << QStringLiteral("<svg id=\"a\"></svg>");
        QTest::newRow("upper case tags")
            << QList<QByteArray>{"<SVG><RECT/></S", "VG>"} << QStringLiteral("<SVG><RECT/></SVG>");
        QTest::newRow("a mention before the fence")
            << QList<QByteArray>{"A single <svg> it is.\\n```svg\\n<svg viewBox=\\\"0 0 1 1\\\">",
                                 "<rect/></svg>\\n```"}
            << QStringLiteral("<svg viewBox=\"0 0 1 1\"><rect/></svg>");
        QTest::newRow("cut inside: runs to the end")
            << QList<QByteArray>{"Plan. <svg viewBox=\\\"0 0 1 1\\\"><path d=\\\"M0"}
            << QStringLiteral("<svg viewBox=\"0 0 1 1\"><path d=\"M0");
    }
    void theDrawingIsCutOutOfTheReply()
    {
        QFETCH(QList<QByteArray>, answerPieces);
        QFETCH(QString, result);
        SessionHarness h;
        FakeResponse reply;
        for (const QByteArray &piece : answerPieces)
            reply.write(chatLine(piece));
        h.server.route("POST", "/api/chat", reply.write(chatDone()));
        QVERIFY(h.draw());
        QCOMPARE(h.session.resultSVG(), std::optional<QString>(result));
        QCOMPARE(h.session.statusNote(), std::nullopt);
        QVERIFY(h.session.durationText());
        QVERIFY(h.session.durationText()->endsWith(QLatin1Char('s')));
        QCOMPARE(h.view.scripts.last(), finishCommand(result));
    }

    // Every piece goes to the canvas as it came, one command each, between the reset and the finish.
    void theCanvasSeesEveryAnswerPieceInOrder()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat",
                       FakeResponse()
                           .write(chatLine("", "Round body, "))
                           .write(chatLine("Here:\\n"))
                           .write(chatLine(""))
                           .write(chatLine("<svg><circle/>", "ignored?"))
                           .write(chatLine("</svg> \\\"done\\\""))
                           .write(chatDone()));
        QVERIFY(h.draw());
        QCOMPARE(h.view.scripts,
                 (QStringList{kReset, delta(""), delta("Here:\n"), delta("<svg><circle/>"),
                              delta("</svg> \"done\""), finishCommand("<svg><circle/></svg>")}));
        QCOMPARE(h.session.narration(),
                 QStringLiteral("Round body, Here:\nignored?<svg><circle/></svg> \"done\""));
    }

    // Thinking that mentions the tag while planning must not become part of the drawing.
    void thinkingThatMentionsTheTagNeverReachesTheDrawing_data()
    {
        QTest::addColumn<QByteArray>("thinking");
        QTest::newRow("an open mention") << QByteArray("I'll write a single <svg> with a viewBox.");
        QTest::newRow("a closed mention") << QByteArray("Maybe start from <svg></svg> and fill it.");
    }
    void thinkingThatMentionsTheTagNeverReachesTheDrawing()
    {
        QFETCH(QByteArray, thinking);
        SessionHarness h;
        h.server.route("POST", "/api/chat",
                       FakeResponse()
                           .write(chatLine("", thinking))
                           .write(chatLine("```svg\\n<svg viewBox=\\\"0 0 2 2\\\">"))
                           .write(chatLine("<rect width=\\\"2\\\" height=\\\"2\\\"/></svg>\\n```"))
                           .write(chatDone()));
        QVERIFY(h.draw());
        const QString drawing =
            QStringLiteral("<svg viewBox=\"0 0 2 2\"><rect width=\"2\" height=\"2\"/></svg>");
        QCOMPARE(h.session.resultSVG(), std::optional<QString>(drawing));
        QCOMPARE(h.view.scripts,
                 (QStringList{kReset, delta(""), delta("```svg\n<svg viewBox=\"0 0 2 2\">"),
                              delta("<rect width=\"2\" height=\"2\"/></svg>\n```"), finishCommand(drawing)}));
        QVERIFY(h.session.narration().startsWith(QString::fromUtf8(thinking)));
    }

    void aDrawingWrittenOnlyWhileThinkingIsStillFound()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat",
                       FakeResponse()
                           .write(chatLine("", "Drafting: <svg viewBox=\\\"0 0 1 1\\\"><circle/></svg>"))
                           .write(chatLine("That is my drawing."))
                           .write(chatDone()));
        QVERIFY(h.draw());
        QCOMPARE(h.session.resultSVG(), std::optional<QString>("<svg viewBox=\"0 0 1 1\"><circle/></svg>"));
        QCOMPARE(h.session.statusNote(), std::nullopt);
    }

    void aThinkingOnlyReplyEndsWithoutADrawing()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat",
                       FakeResponse()
                           .write(chatLine("", "Hmm, a pelican"))
                           .write(chatLine("", "... wings?"))
                           .write(chatDone()));
        QVERIFY(h.draw());
        QCOMPARE(h.session.narration(), QStringLiteral("Hmm, a pelican... wings?"));
        QCOMPARE(h.session.resultSVG(), std::nullopt);
        QCOMPARE(h.session.durationText(), std::nullopt);
        QCOMPARE(h.session.statusNote(),
                 std::optional<QString>("The model replied but didn't finish an SVG."));
        QCOMPARE(h.view.scripts.last(), finishCommand(QString()));
    }

    // ---- failures ----

    void aFailureAfterACompleteDrawingKeepsIt()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat",
                       FakeResponse().write(chatLine("<svg><rect/></svg>")).write(chatLine("more")).drop());
        QVERIFY(h.draw());
        QCOMPARE(h.session.resultSVG(), std::optional<QString>("<svg><rect/></svg>"));
        QCOMPARE(h.session.statusNote(), std::nullopt);
        QCOMPARE(h.view.scripts.last(), finishCommand("<svg><rect/></svg>"));
    }

    void aFailureMidDrawingKeepsThePartialDrawing_data()
    {
        QTest::addColumn<QByteArray>("failure");
        QTest::newRow("connection dropped") << QByteArray();
        QTest::newRow("server error line")
            << QByteArray(R"({"error":"an error was encountered while running the model"})"
                          "\n");
    }
    void aFailureMidDrawingKeepsThePartialDrawing()
    {
        QFETCH(QByteArray, failure);
        SessionHarness h;
        FakeResponse reply;
        reply.write(chatLine("Plan. <svg viewBox=\\\"0 0 9 9\\\"><g>")).write(chatLine("<path d=\\\"M1 1"));
        if (failure.isEmpty())
            reply.drop();
        else
            reply.write(failure).write(chatLine("never seen"));
        h.server.route("POST", "/api/chat", reply);
        QVERIFY(h.draw());
        const QString partial = QStringLiteral("<svg viewBox=\"0 0 9 9\"><g><path d=\"M1 1");
        QCOMPARE(h.session.resultSVG(), std::optional<QString>(partial));
        QCOMPARE(h.session.statusNote(), std::nullopt);
        QCOMPARE(h.view.scripts.last(), finishCommand(partial));
        QVERIFY(!h.session.narration().contains(QStringLiteral("never seen")));
    }

    void aFailureWithoutADrawingShowsTheError()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat",
                       FakeResponse(404).write(R"({"error":"model 'qwen3:4b' not found"})"));
        QVERIFY(h.draw());
        QCOMPARE(h.session.statusNote(),
                 std::optional<QString>("Unexpected Ollama response: model 'qwen3:4b' not found"));
        QCOMPARE(h.session.resultSVG(), std::nullopt);
        QCOMPARE(h.view.scripts, (QStringList{kReset, finishCommand(QString())}));
    }

    void anErrorPageThatIsNotJsonMeansNoDrawing()
    {
        SessionHarness h;
        h.server.route(
            "POST", "/api/chat",
            FakeResponse(502, FakeResponse::Framing::ContentLength).write("<html>Bad Gateway</html>"));
        QVERIFY(h.draw());
        QCOMPARE(h.session.statusNote(),
                 std::optional<QString>("The model replied but didn't finish an SVG."));
        QCOMPARE(h.view.scripts, (QStringList{kReset, finishCommand(QString())}));
    }

    void nothingListeningSaysOllamaIsNotRunning()
    {
        quint16 port;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        SessionHarness h;
        h.session.client()->setBase(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
        QVERIFY(h.draw());
        QCOMPARE(h.session.statusNote(), std::optional<QString>("Ollama isn't running on localhost:11434."));
        QCOMPARE(h.view.scripts, (QStringList{kReset, finishCommand(QString())}));
    }

    void stoppingBeforeAnyTextSendsNoFinish()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat", FakeResponse().hold().write(chatLine("<svg></svg>")));
        QSignalSpy received(&h.server, &FakeHttpServer::requestReceived);
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        h.session.start(QStringLiteral("a fox"));
        QVERIFY(received.wait());
        h.session.stop();
        QVERIFY(h.waitForEnd());
        QCOMPARE(h.session.statusNote(), std::optional<QString>("Stopped."));
        QVERIFY(h.session.narration().isEmpty());
        QCOMPARE(h.session.resultSVG(), std::nullopt);
        QCOMPARE(h.view.scripts, QStringList{kReset});
        QVERIFY(!h.session.loadingModel());
        QVERIFY(disconnected.count() == 1 || disconnected.wait());
    }

    // The server says nothing while it loads the model; its first line ends that wait.
    void waitingForTheFirstLineIsLoadingTheModel()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat",
                       FakeResponse().hold().write(chatLine("Plan")).hold().write(chatDone()));
        QSignalSpy received(&h.server, &FakeHttpServer::requestReceived);
        h.session.start(QStringLiteral("a fox"));
        QVERIFY(received.wait());
        QVERIFY(h.session.loadingModel());
        QSignalSpy loading(&h.session, &DrawSession::loadingModelChanged);
        h.server.release();
        QVERIFY(loading.wait());
        QVERIFY(!h.session.loadingModel());
        h.server.release();
        QVERIFY(h.waitForEnd());
        QCOMPARE(loading.size(), 1);
    }

    void stoppingMidDrawingKeepsTheCanvasButRecordsNothing()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat", FakeResponse().write(chatLine("<svg><rect/>")).hold());
        h.session.start(QStringLiteral("a fox"));
        QSignalSpy narration(&h.session, &DrawSession::narrationChanged);
        QVERIFY(narration.wait());
        h.session.stop();
        QVERIFY(h.waitForEnd());
        QCOMPARE(h.session.statusNote(), std::optional<QString>("Stopped."));
        QCOMPARE(h.session.resultSVG(), std::nullopt);
        QCOMPARE(h.view.scripts, (QStringList{kReset, delta("<svg><rect/>")}));
    }

    // ---- what the model is told ----

    void theSystemPromptsAreExact()
    {
        QCOMPARE(Prompts::drawSystemPrompt().size(), 1212);
        QCOMPARE(Prompts::drawSystemPrompt().toUtf8().size(), 1218);
        QCOMPARE(Prompts::recreateSystemPrompt().size(), 808);
        QCOMPARE(Prompts::recreateSystemPrompt().toUtf8().size(), 810);
        QVERIFY(Prompts::drawSystemPrompt().startsWith(
            QStringLiteral("You are a meticulous SVG illustrator, drawing")));
        QVERIFY(Prompts::drawSystemPrompt().endsWith(QStringLiteral("with character.")));
        QVERIFY(Prompts::drawSystemPrompt().contains(QString::fromUtf16(u"SHORT \u2014 a few sentences")));
        QVERIFY(Prompts::recreateSystemPrompt().endsWith(QStringLiteral("Always finish it.")));
        QVERIFY(!Prompts::drawSystemPrompt().contains(QLatin1Char('\r')));
    }

    void aDrawRunSendsTheDrawMessages()
    {
        SessionHarness h;
        h.server.route("POST", "/api/chat", FakeResponse().write(chatDone()));
        QVERIFY(h.draw(QStringLiteral("  a lighthouse at dusk \n")));
        const QJsonArray messages = sentMessages(h.server);
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages[0].toObject(),
                 (QJsonObject{{"role", "system"}, {"content", Prompts::drawSystemPrompt()}}));
        QCOMPARE(messages[1].toObject(),
                 (QJsonObject{{"role", "user"}, {"content", "Draw: a lighthouse at dusk"}}));
        // The prompt bytes on the wire are the prompt's own UTF-8.
        QVERIFY(h.server.requests().last().body.contains(QString::fromUtf16(u"SHORT \u2014 a few").toUtf8()));
    }

    void aVisionModelWithAnImageRecreatesIt_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("userText");
        QTest::newRow("with a prompt") << QStringLiteral(" in watercolour ")
                                       << QStringLiteral("Recreate this image as an SVG. in watercolour");
        QTest::newRow("prompt of one letter")
            << QStringLiteral("x") << QStringLiteral("Recreate this image as an SVG. x");
    }
    void aVisionModelWithAnImageRecreatesIt()
    {
        QFETCH(QString, prompt);
        QFETCH(QString, userText);
        QTemporaryDir dir;
        SessionHarness h;
        h.session.setModels({OllamaModel{QStringLiteral("llava:7b"), true, true, 1, {}}});
        h.session.setSelectedModel(QStringLiteral("llava:7b"));
        const QString path = writeImage(dir, QStringLiteral("photo.JPG"), "jpeg");
        QVERIFY(h.session.attachReferenceFile(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString base64 = QString::fromLatin1(file.readAll().toBase64());

        h.server.route("POST", "/api/chat", FakeResponse().write(chatDone()));
        QVERIFY(h.draw(prompt));
        const QJsonArray messages = sentMessages(h.server);
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages[0].toObject(),
                 (QJsonObject{{"role", "system"}, {"content", Prompts::recreateSystemPrompt()}}));
        QCOMPARE(messages[1].toObject(),
                 (QJsonObject{{"role", "user"}, {"content", userText}, {"images", QJsonArray{base64}}}));
    }

    void recreatingWithoutAPromptUsesTheBareRequest()
    {
        const QJsonArray messages = Prompts::recreateMessages(QString(), ReferenceData{"QUJD", "image/png"});
        QCOMPARE(messages[1].toObject(), (QJsonObject{{"role", "user"},
                                                      {"content", "Recreate this image as an SVG."},
                                                      {"images", QJsonArray{"QUJD"}}}));
    }

    void anImageIsLeftOutForAModelWithoutVision()
    {
        QTemporaryDir dir;
        SessionHarness h;
        h.session.setModels({OllamaModel{QStringLiteral("qwen3:4b"), true, false, 1, {}}});
        QVERIFY(h.session.attachReferenceFile(writeImage(dir, QStringLiteral("a.png"), "png")));
        h.server.route("POST", "/api/chat", FakeResponse().write(chatDone()));
        QVERIFY(h.draw(QStringLiteral("a fox")));
        const QJsonArray messages = sentMessages(h.server);
        QCOMPARE(messages[0].toObject().value("content").toString(), Prompts::drawSystemPrompt());
        QCOMPARE(messages[1].toObject(), (QJsonObject{{"role", "user"}, {"content", "Draw: a fox"}}));
        QVERIFY(h.session.hasReference()); // still attached for later runs
    }

    void changingTheImageMidRunDoesNotChangeThatRun()
    {
        QTemporaryDir dir;
        SessionHarness h;
        h.session.setModels({OllamaModel{QStringLiteral("llava:7b"), true, true, 1, {}}});
        h.session.setSelectedModel(QStringLiteral("llava:7b"));
        QVERIFY(h.session.attachReferenceFile(writeImage(dir, QStringLiteral("first.png"), "png")));
        const QString first = h.session.referenceData()->base64;
        h.server.route("POST", "/api/chat",
                       FakeResponse().write(chatLine("Looking")).hold().write(chatDone()));
        h.session.start(QStringLiteral("copy"));
        QSignalSpy narration(&h.session, &DrawSession::narrationChanged);
        QVERIFY(narration.wait());
        h.session.clearReference();
        QVERIFY(!h.session.hasReference());
        h.server.release();
        QVERIFY(h.waitForEnd());
        QCOMPARE(sentMessages(h.server)[1].toObject().value("images").toArray(), QJsonArray{first});

        // Removed: the next run draws.
        h.server.route("POST", "/api/chat", FakeResponse().write(chatDone()));
        QVERIFY(h.draw(QStringLiteral("again")));
        QCOMPARE(sentMessages(h.server)[1].toObject(),
                 (QJsonObject{{"role", "user"}, {"content", "Draw: again"}}));
    }

    // ---- attaching an image ----

    void everyPictureFormatAttaches_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QString>("type");
        QTest::newRow("png") << QStringLiteral("p.png") << QByteArray("png") << QStringLiteral("image/png");
        QTest::newRow("jpeg") << QStringLiteral("photo.JPG") << QByteArray("jpeg")
                              << QStringLiteral("image/jpeg");
        QTest::newRow("jpeg spelled out")
            << QStringLiteral("a.Jpeg") << QByteArray("jpeg") << QStringLiteral("image/jpeg");
        QTest::newRow("no extension passes as png")
            << QStringLiteral("picture") << QByteArray("jpeg") << QStringLiteral("image/png");
        QTest::newRow("gif") << QStringLiteral("g.gif") << QByteArray("gif") << QStringLiteral("image/gif");
        QTest::newRow("webp") << QStringLiteral("w.webp") << QByteArray("webp")
                              << QStringLiteral("image/webp");
        QTest::newRow("tiff passes as png")
            << QStringLiteral("scan.tiff") << QByteArray("tiff") << QStringLiteral("image/png");
    }
    void everyPictureFormatAttaches()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        QFETCH(QString, type);
        if (format == "gif" && !QImageWriter::supportedImageFormats().contains("gif")) {
            // Qt reads GIF but cannot write it: use a minimal GIF made by hand.
            QTemporaryDir dir;
            const QString path = dir.filePath(name);
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray::fromBase64("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7"));
            file.close();
            DrawSession session;
            QVERIFY(session.attachReferenceFile(path));
            QCOMPARE(session.referenceData()->contentType, type);
            QCOMPARE(session.referenceImage().size(), QSize(1, 1));
            return;
        }
        QVERIFY2(QImageWriter::supportedImageFormats().contains(format), format.constData());
        QTemporaryDir dir;
        const QString path = writeImage(dir, name, format);
        DrawSession session;
        QSignalSpy changed(&session, &DrawSession::referenceChanged);
        QVERIFY(session.attachReferenceFile(path));
        QCOMPARE(changed.size(), 1);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(session.referenceData()->base64, QString::fromLatin1(bytes.toBase64()));
        QVERIFY(!session.referenceData()->base64.contains(QLatin1Char('\n')));
        QCOMPARE(session.referenceData()->contentType, type);
        QCOMPARE(session.referenceImage().size(), QSize(8, 6));
        QVERIFY(
            session.referenceImageSource().toString().startsWith(QStringLiteral("data:image/png;base64,")));
        session.clearReference();
        QVERIFY(!session.referenceData());
        QVERIFY(session.referenceImage().isNull());
    }

    void aFileThatIsNotAPictureChangesNothing()
    {
        QTemporaryDir dir;
        DrawSession session;
        QVERIFY(session.attachReferenceFile(writeImage(dir, QStringLiteral("keep.png"), "png")));
        const ReferenceData kept = *session.referenceData();

        const QString fake = dir.filePath(QStringLiteral("fake.png"));
        QFile file(fake);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("this is not a picture at all\n");
        file.close();
        QSignalSpy changed(&session, &DrawSession::referenceChanged);
        QVERIFY(!session.attachReferenceFile(fake));
        QCOMPARE(session.referenceError(), QStringLiteral("That file couldn't be opened as an image."));
        QVERIFY(!session.attachReferenceFile(dir.filePath(QStringLiteral("missing.png"))));
        QVERIFY(!session.attachReference(QUrl(QStringLiteral("https://example.com/a.png"))));
        QVERIFY(changed.isEmpty());
        QCOMPARE(*session.referenceData(), kept);
    }

    // Up to 20 MB attaches and is shown by a small preview; one byte more is refused unread.
    void aPictureOver20MBIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.png"));
        QImage image(1200, 600, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(path, "PNG"));
        QFile file(path);
        QVERIFY(file.resize(20'000'000)); // zeros after the end of the picture
        DrawSession session;
        QVERIFY(session.attachReferenceFile(path));
        QCOMPARE(session.referenceError(), QString());
        QImage preview;
        QVERIFY(preview.loadFromData(
            QByteArray::fromBase64(session.referenceImageSource().toString().section(',', 1).toLatin1())));
        QCOMPARE(preview.size(), QSize(512, 256));

        QVERIFY(file.resize(20'000'001));
        QSignalSpy changed(&session, &DrawSession::referenceChanged);
        QVERIFY(!session.attachReferenceFile(path));
        QCOMPARE(session.referenceError(),
                 QStringLiteral("That image is larger than 20 MB. Choose a smaller one."));
        QVERIFY(changed.isEmpty());
        session.clearReference();
        QCOMPARE(session.referenceError(), QString());
    }
};

QTEST_GUILESS_MAIN(TestLocalRun)
#include "tst_localrun.moc"
