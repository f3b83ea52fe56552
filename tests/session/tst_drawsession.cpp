#include "session/prompts.h"
#include "session/svgextract.h"
#include "sessionharness.h"
#include "testenvironment.h"

#include <QBuffer>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalText)
Q_DECLARE_METATYPE(FakeResponse)

namespace {
const OptionalText kNoSvg(QStringLiteral("The model replied but didn't finish an SVG."));
const OptionalText kStopped(QStringLiteral("Stopped."));
const OptionalText kNone;

QByteArray line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// One line of a local reply; a thinking line carries an empty answer, as the server sends it.
QByteArray said(const QString &content, const QString &thinking = QString())
{
    QJsonObject message{{"role", "assistant"}, {"content", content}};
    if (!thinking.isNull())
        message.insert("thinking", thinking);
    return line({{"model", "qwen3:4b"}, {"message", message}, {"done", false}});
}

QJsonObject bodyOf(const RecordedRequest &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

// The canvas commands, short: "reset", "+piece", "finish:svg".
QStringList canvasLog(const RecordingView &view)
{
    QStringList log;
    for (const QString &script : view.scripts) {
        const QByteArray argument = script.sliced(script.indexOf(u'(') + 1).chopped(1).toUtf8();
        const QString text = QJsonDocument::fromJson('[' + argument + ']').array().at(0).toString();
        log << (script.startsWith(u"window.applyDelta")      ? "+" + text
                : script.startsWith(u"window.finishDrawing") ? "finish:" + text
                                                             : QStringLiteral("reset"));
    }
    return log;
}

// The drawing the canvas was given last: none for an empty finish, or none at all.
OptionalText finished(const QStringList &canvas)
{
    const QString last = canvas.value(canvas.size() - 1);
    return last.size() > 7 && last.startsWith(u"finish:") ? OptionalText(last.sliced(7)) : kNone;
}

// Everything a user can see of the session, to tell that nothing changed.
QStringList seen(const WindowSession &h)
{
    const DrawSession &s = *h.session;
    return QStringList() << s.activePrompt() << s.narration() << s.resultSVG().value_or("-")
                         << s.durationText().value_or("-") << s.statusNote().value_or("-")
                         << s.publishedURL().toString() << QString::number(s.running())
                         << s.turnStartedAt().toString(Qt::ISODateWithMs) << h.view.scripts.join('|')
                         << QString::number(h.server.requests().size());
}

QByteArray encoded(const char *format, QSize size = QSize(8, 6))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
} // namespace

class TestDrawSession : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private slots:
    // A start is refused for a blank prompt, without a model, or while a run is on, and then
    // changes nothing at all; an accepted one clears everything the last run left.
    void startingARun()
    {
        WindowSession h(true);
        const QString painter = QStringLiteral("vendor/painter");
        h.session->setSelectedModel(painter);
        h.server.route(
            "POST", "/api/v1/generations",
            FakeResponse().writeEach(
                {line({{"url", "https://dravlin.app/d/1"}, {"error", "Slow"}, {"c", "<svg></svg>"}}),
                 line({{"done", true}})}));
        QVERIFY(h.draw(QStringLiteral("first")));
        QCOMPARE(h.session->statusNote(), OptionalText("Slow")); // a message beside a drawing stays
        QVERIFY(h.session->resultSVG() && h.session->durationText() && h.session->publishedURL().isValid());
        QVERIFY(h.waitForRequests("GET", "/api/v1/me", 1)); // the balance, asked for after the end
        const QStringList before = seen(h);
        const QList<std::pair<QString, QString>> refusals{
            {" \n\t \r\n ", painter}, {"", painter}, {"a fox", ""}};
        for (const auto &[prompt, model] : refusals) {
            h.session->setSelectedModel(model);
            h.session->start(prompt);
            QCoreApplication::processEvents();
            QCOMPARE(seen(h), before);
        }

        h.session->setSelectedModel(painter);
        h.server.route("POST", "/api/v1/generations", FakeResponse().write(line({{"r", "Plan"}})).hold());
        h.session->start(QStringLiteral("\n second "));
        QVERIFY(h.session->running() && h.session->turnStartedAt().isValid());
        QCOMPARE(seen(h).mid(0, 6), (QStringList{"second", "", "-", "-", "-", ""}));
        QCOMPARE(canvasLog(h.view).last(), QStringLiteral("reset"));
        QSignalSpy narration(h.session, &DrawSession::narrationChanged);
        QVERIFY(narration.wait());
        const QStringList running = seen(h);
        h.session->start(QStringLiteral("third"));
        QCoreApplication::processEvents();
        QCOMPARE(seen(h), running);
        h.session->stop();
        QVERIFY(h.waitForEnd());
    }

    // Only the answer reaches the canvas; the drawing is looked for in the answer, and in the
    // thinking only when the answer has none. A failure after part of a drawing keeps that part
    // as the result and is not shown; without a drawing, it is.
    void aLocalRunEndsAsItsReplySays_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("narration");
        QTest::addColumn<QStringList>("canvas");
        QTest::addColumn<OptionalText>("note");
        QTest::newRow("thinking that names the tag")
            << FakeResponse().writeEach({said("", "Maybe <svg></svg> first."),
                                         said("<svg id=\"a\">", " Then "), said("</svg> done"), chatDone()})
            << "Maybe <svg></svg> first. Then <svg id=\"a\"></svg> done"
            << QStringList{"reset", "+", "+<svg id=\"a\">", "+</svg> done", "finish:<svg id=\"a\"></svg>"}
            << kNone;
        QTest::newRow("a drawing written only while thinking")
            << FakeResponse().writeEach({said("", "Draft: <svg><rect/></svg>"), said("Done."), chatDone()})
            << "Draft: <svg><rect/></svg>Done."
            << QStringList{"reset", "+", "+Done.", "finish:<svg><rect/></svg>"} << kNone;
        QTest::newRow("thinking only")
            << FakeResponse().writeEach({said("", "Hmm"), said("", ", wings?"), chatDone()}) << "Hmm, wings?"
            << QStringList{"reset", "+", "+", "finish:"} << kNoSvg;
        QTest::newRow("a drop mid-drawing")
            << FakeResponse(200, FakeResponse::Framing::ContentLength)
                   .writeEach({said("<svg><g>"), said("<path")})
                   .drop()
                   .write(said("never seen"))
            << "<svg><g><path" << QStringList{"reset", "+<svg><g>", "+<path", "finish:<svg><g><path"}
            << kNone;
        QTest::newRow("an error line mid-drawing")
            << FakeResponse().writeEach(
                   {said("<svg><g>"), "{\"error\":\"model crashed\"}\n", said("never seen")})
            << "<svg><g>" << QStringList{"reset", "+<svg><g>", "finish:<svg><g>"} << kNone;
        QTest::newRow("refused before a word")
            << FakeResponse(404).write("{\"error\":\"model 'qwen3:4b' not found\"}") << QString()
            << QStringList{"reset", "finish:"}
            << OptionalText("Unexpected Ollama response: model 'qwen3:4b' not found");
    }
    void aLocalRunEndsAsItsReplySays()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QStringList, canvas);
        WindowSession h;
        h.server.route("POST", "/api/chat", reply);
        QVERIFY(h.draw());
        QCOMPARE(canvasLog(h.view), canvas);
        QTEST(h.session->narration(), "narration");
        QTEST(h.session->statusNote(), "note");
        QCOMPARE(h.session->resultSVG(), finished(canvas));
        // Only a drawing has a time: "12.3s".
        const QRegularExpression shape(finished(canvas) ? QStringLiteral("^\\d+\\.\\ds$")
                                                        : QStringLiteral("^-$"));
        QVERIFY(shape.match(h.session->durationText().value_or("-")).hasMatch());
    }

    // A stop ends the run, keeps what the canvas shows, finishes nothing and closes the request;
    // a drawing already finished (and being published) stays, without a message. Closing the
    // window mid-run takes the run and its request with it. The model is "loading" only until the
    // first line of its reply.
    void stopping_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QByteArray>("stopOn");  // "narration" or a request awaited first; none: at once
        QTest::addColumn<QStringList>("canvas"); // none: the window is closed instead
        QTest::addColumn<OptionalText>("note");
        const FakeResponse drawing = FakeResponse().write(said("<svg><rect/>")).hold().write(chatDone());
        const QStringList partial{"reset", "+<svg><rect/>"};
        const QStringList reset{"reset"};
        QTest::newRow("before a local run begins")
            << "qwen3:4b" << FakeResponse() << QByteArray() << reset << kStopped;
        QTest::newRow("before a cloud run begins")
            << "vendor/painter" << FakeResponse() << QByteArray() << reset << kStopped;
        QTest::newRow("while the model loads")
            << "qwen3:4b" << FakeResponse().hold().write(said("<svg></svg>")) << QByteArray("/api/chat")
            << reset << kStopped;
        QTest::newRow("mid-drawing, local")
            << "qwen3:4b" << drawing << QByteArray("narration") << partial << kStopped;
        QTest::newRow("mid-drawing, cloud")
            << "vendor/painter" << FakeResponse().write(line({{"c", "<svg><rect/>"}})).hold()
            << QByteArray("narration") << partial << kStopped;
        QTest::newRow("while publishing")
            << "qwen3:4b" << FakeResponse().writeEach({said("<svg></svg>"), chatDone()})
            << QByteArray("/api/v1/drawings") << QStringList{"reset", "+<svg></svg>", "finish:<svg></svg>"}
            << kNone;
        QTest::newRow("closing the window")
            << "qwen3:4b" << drawing << QByteArray("narration") << QStringList() << kNone;
    }
    void stopping()
    {
        QFETCH(QString, model);
        QFETCH(FakeResponse, reply);
        QFETCH(QByteArray, stopOn);
        QFETCH(QStringList, canvas);
        WindowSession h(true);
        h.session->setSelectedModel(model);
        h.server.route("POST", "/api/chat", reply);
        h.server.route("POST", "/api/v1/generations", reply);
        h.server.route("POST", "/api/v1/drawings", FakeResponse(201).hold());
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        QSignalSpy narration(h.session, &DrawSession::narrationChanged);
        h.session->start(QStringLiteral("a heron"));
        if (stopOn == "narration")
            QVERIFY(narration.wait());
        else if (!stopOn.isEmpty())
            QVERIFY(h.waitForRequests("POST", stopOn, 1));
        QCOMPARE(h.session->loadingModel(), stopOn == "/api/chat");
        if (canvas.isEmpty()) {
            delete h.session;
            h.session = nullptr;
            QVERIFY(disconnected.wait());
            return;
        }
        h.session->stop();
        QVERIFY(h.waitForEnd());
        QTEST(h.session->statusNote(), "note");
        QCOMPARE(canvasLog(h.view), canvas);
        QCOMPARE(h.session->resultSVG(), finished(canvas));
        QVERIFY(!h.session->turnStartedAt().isValid() && !h.session->loadingModel());
        if (stopOn.isEmpty())
            QVERIFY(h.server.requests().isEmpty());
        else
            QVERIFY(!disconnected.isEmpty() || disconnected.wait());
    }

    // An installed model is local whatever its name; anything else is cloud exactly with a slash.
    // A local model with vision and an image attached recreates it; otherwise the prompt is drawn,
    // and an image the model cannot see stays attached for a later run.
    void whatTheModelIsTold_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QVariant>("installed"); // with vision or not; none: not installed
        QTest::addColumn<bool>("attached");
        QTest::addColumn<QString>("user"); // none: a cloud model, which asks to sign in first
        const QString draw = QStringLiteral("Draw: a fox");
        QTest::newRow("draw") << "llama3.2:3b" << QVariant() << false << draw;
        QTest::newRow("cloud") << "anthropic/claude-sonnet-4" << QVariant() << false << QString();
        QTest::newRow("a slash anywhere") << "a/" << QVariant() << true << QString();
        QTest::newRow("installed, namespaced") << "someone/model:tag" << QVariant(false) << false << draw;
        QTest::newRow("recreate, from a hub")
            << "hf.co/org/repo:Q4_K_M" << QVariant(true) << true << "Recreate this image as an SVG. a fox";
        QTest::newRow("an image the model cannot see") << "llava:7b" << QVariant(false) << true << draw;
        QTest::newRow("vision without an image") << "llava:7b" << QVariant(true) << false << draw;
        QTest::newRow("not installed: no vision") << "llava:7b" << QVariant() << true << draw;
    }
    void whatTheModelIsTold()
    {
        QFETCH(QString, model);
        QFETCH(QVariant, installed);
        QFETCH(bool, attached);
        QFETCH(QString, user);
        QTemporaryDir dir;
        WindowSession h;
        if (installed.isValid())
            h.session->setModels({OllamaModel{model, true, installed.toBool(), 1, {}}});
        h.session->setSelectedModel(model);
        QCOMPARE(h.session->selectedIsCloud(), user.isNull());
        const QString path = dir.filePath(QStringLiteral("photo.jpg"));
        if (attached)
            QVERIFY(writeFile(path, encoded("jpeg")) && h.session->attachReferenceFile(path));
        h.server.route("POST", "/api/chat", FakeResponse().write(chatDone()));
        QVERIFY(h.draw(QStringLiteral("  a fox \n")));
        QCOMPARE(h.session->hasReference(), attached);
        if (user.isNull()) {
            QCOMPARE(h.session->statusNote(), OptionalText("Sign in to draw with cloud models."));
            QVERIFY(h.server.requests().isEmpty());
            return;
        }
        const bool recreate = user.startsWith(u"Recreate");
        QJsonObject message{{"role", "user"}, {"content", user}};
        if (recreate)
            message.insert("images", QJsonArray{h.session->referenceData()->base64});
        const QJsonObject system{
            {"role", "system"},
            {"content", recreate ? Prompts::recreateSystemPrompt() : Prompts::drawSystemPrompt()}};
        const QJsonObject body = bodyOf(h.sent("/api/chat"));
        QCOMPARE(body.value("model").toString(), model);
        QCOMPARE(body.value("messages").toArray(), (QJsonArray{system, message}));
    }

    // Judged by content, typed by the name's extension (anything unknown passes as PNG), at most
    // 20 MB, shown by a small preview; a refusal says why and changes nothing.
    void attachingAnImage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes"); // null: no such file
        QTest::addColumn<qint64>("size");      // padded with zeros to this size when set
        QTest::addColumn<QString>("type");
        QTest::addColumn<QSize>("preview");
        QTest::addColumn<QString>("error");
        const QByteArray jpeg = encoded("jpeg");
        const QByteArray gif =
            QByteArray::fromBase64("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7");
        const QByteArray big = encoded("png", QSize(1200, 600));
        const QString unreadable = QStringLiteral("That file couldn't be opened as an image.");
        const QSize small(8, 6);
        QTest::newRow("JPG") << "photo.JPG" << jpeg << qint64(0) << "image/jpeg" << small << QString();
        QTest::newRow("Jpeg") << "a.Jpeg" << jpeg << qint64(0) << "image/jpeg" << small << QString();
        QTest::newRow("no extension") << "picture" << jpeg << qint64(0) << "image/png" << small << QString();
        QTest::newRow("gif") << "g.gif" << gif << qint64(0) << "image/gif" << QSize(1, 1) << QString();
        QTest::newRow("webp") << "w.webp" << encoded("webp") << qint64(0) << "image/webp" << small
                              << QString();
        QTest::newRow("20 MB") << "big.png" << big << qint64(20'000'000) << "image/png" << QSize(512, 256)
                               << QString();
        QTest::newRow("a byte more") << "big.png" << big << qint64(20'000'001) << QString() << QSize()
                                     << "That image is larger than 20 MB. Choose a smaller one.";
        QTest::newRow("text named like a picture")
            << "fake.png" << QByteArray("not a picture\n") << qint64(0) << QString() << QSize() << unreadable;
        QTest::newRow("no such file")
            << "gone.png" << QByteArray() << qint64(0) << QString() << QSize() << unreadable;
    }
    void attachingAnImage()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, size);
        QFETCH(QString, error);
        QTemporaryDir dir;
        WindowSession h;
        const QString kept = dir.filePath(QStringLiteral("kept.png"));
        QVERIFY(writeFile(kept, encoded("png")) && h.session->attachReferenceFile(kept));
        const ReferenceData before = *h.session->referenceData();
        const QString path = dir.filePath(name);
        if (!bytes.isNull())
            QVERIFY(writeFile(path, bytes) && (!size || QFile::resize(path, size)));
        QSignalSpy changed(h.session, &DrawSession::referenceChanged);
        QCOMPARE(h.session->attachReferenceFile(path), error.isEmpty());
        QCOMPARE(h.session->referenceError(), error);
        QCOMPARE(changed.size(), error.isEmpty() ? 1 : 0);
        if (!error.isEmpty()) {
            QCOMPARE(*h.session->referenceData(), before);
            QVERIFY(!h.session->attachReference(QUrl(QStringLiteral("https://example.com/a.png"))));
            h.session->clearReference();
            QVERIFY(!h.session->hasReference() && h.session->referenceError().isEmpty());
            return;
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(h.session->referenceData()->base64, QString::fromLatin1(file.readAll().toBase64()));
        QTEST(h.session->referenceData()->contentType, "type");
        const QString source = h.session->referenceImageSource().toString();
        QImage preview;
        QVERIFY(preview.loadFromData(QByteArray::fromBase64(source.section(u',', 1).toLatin1()), "PNG"));
        QTEST(preview.size(), "preview");
    }

    // The token always goes along; the user's own key only when paying with it; the image only to
    // a model that can see it. The way of paying holds for every window.
    void whatACloudRunSends_data()
    {
        QTest::addColumn<QString>("payWith"); // empty: never chosen
        QTest::addColumn<bool>("keySaved");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QByteArray>("keyHeader");
        QTest::newRow("credit by default") << QString() << false << "vendor/painter" << QByteArray();
        QTest::newRow("credit, a key saved") << "credits" << true << "vendor/painter" << QByteArray();
        QTest::newRow("key") << "key" << true << "vendor/painter" << QByteArray("sk-or-1");
        QTest::newRow("a model with vision") << "credits" << false << "vendor/seer" << QByteArray();
    }
    void whatACloudRunSends()
    {
        QFETCH(QString, payWith);
        QFETCH(bool, keySaved);
        QFETCH(QString, model);
        QTemporaryDir dir;
        WindowSession h(true);
        if (keySaved)
            Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("sk-or-1"));
        if (!payWith.isEmpty())
            h.session->setPayWith(payWith);
        const QString paidWith = payWith.isEmpty() ? QStringLiteral("credits") : payWith;
        QCOMPARE(DrawSession().payWith(), paidWith);
        h.catalog(
            R"({"models":[],"cloud_catalog":[{"id":"vendor/seer","name":"Seer","vision":true},)"
            R"({"id":"vendor/painter","name":"Painter"}],"featured_cloud":["vendor/seer","vendor/painter"]})");
        QVERIFY(h.refreshRecommended());
        const QString path = dir.filePath(QStringLiteral("ref.jpg"));
        QVERIFY(writeFile(path, encoded("jpeg")) && h.session->attachReferenceFile(path));
        h.session->setSelectedModel(model);
        h.server.route("POST", "/api/v1/generations", FakeResponse());
        QVERIFY(h.draw(QStringLiteral("  a heron at dawn ")));
        const RecordedRequest request = h.sent("/api/v1/generations");
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-1"));
        QTEST(request.header("X-Openrouter-Key"), "keyHeader");
        const bool vision = model == QLatin1String("vendor/seer");
        QJsonObject body{{"prompt", "a heron at dawn"},
                         {"model_id", model},
                         {"model_label", vision ? "Seer" : "Painter"},
                         {"paid_with", paidWith}};
        if (vision) {
            body.insert("image_base64", h.session->referenceData()->base64);
            body.insert("image_content_type", "image/jpeg");
        }
        QCOMPARE(bodyOf(request), body);
    }

    // Reasoning is narration only, lines that are no events are passed over, the service's own
    // cut wins and otherwise only a closed drawing counts, every end refreshes the balance, and
    // only a web address becomes the drawing's link. A run that cannot be sent says why.
    void aCloudRunEndsAsItsEventsSay_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("narration");
        QTest::addColumn<QStringList>("canvas");
        QTest::addColumn<OptionalText>("note");
        QTest::addColumn<QUrl>("link");
        const QString open = QStringLiteral("One <svg>:\n```svg\n<svg viewBox=\"0 0 2 2\">");
        const OptionalText signIn(QStringLiteral("Sign in to draw with cloud models."));
        const QStringList reset{"reset"};
        QTest::newRow("reasoning, answer and lines that are no events")
            << QString()
            << FakeResponse().writeEach(
                   {line({{"r", "Thinking of <svg> "}, {"url", "https://dravlin.app/d/42"}}),
                    line({{"c", open}}), "\r\n[]\r\nnot json\r",
                    line({{"c", "<rect/></svg>\n```"}, {"done", true}})})
            << "Thinking of <svg> " + open + "<rect/></svg>\n```"
            << QStringList{"reset", "+" + open, "+<rect/></svg>\n```",
                           "finish:<svg viewBox=\"0 0 2 2\"><rect/></svg>"}
            << kNone << QUrl("https://dravlin.app/d/42");
        QTest::newRow("the service's cut wins")
            << QString()
            << FakeResponse().writeEach(
                   {line({{"c", "<svg id=\"s\"></svg>"}, {"url", "http://127.0.0.1:9/d"}}),
                    line({{"done", QJsonValue::Null}, {"svg", "<svg id=\"f\"/>"}})})
            << "<svg id=\"s\"></svg>"
            << QStringList{"reset", "+<svg id=\"s\"></svg>", "finish:<svg id=\"f\"/>"} << kNone
            << QUrl("http://127.0.0.1:9/d");
        QTest::newRow("an open drawing, a cut of the wrong type")
            << QString()
            << FakeResponse().writeEach({line({{"c", "<svg><rect"}, {"url", "file:///etc/passwd"}}),
                                         line({{"done", 1}, {"svg", 7}})})
            << "<svg><rect" << QStringList{"reset", "+<svg><rect", "finish:"} << kNoSvg << QUrl();
        QTest::newRow("a lone <svg/> is no drawing: the message gives way")
            << QString()
            << FakeResponse().writeEach({line({{"error", "Provider error"}, {"url", "javascript:alert(1)"}}),
                                         line({{"c", "<svg/>"}, {"done", true}})})
            << "<svg/>" << QStringList{"reset", "+<svg/>", "finish:"} << kNoSvg << QUrl();
        QTest::newRow("two ends: the last stands")
            << QString()
            << FakeResponse().writeEach(
                   {line({{"done", true}, {"svg", "<svg id=\"1\"/>"}}),
                    line({{"done", true}, {"svg", "<svg id=\"2\"/>"}, {"url", "dravlin-mac://x"}})})
            << QString() << QStringList{"reset", "finish:<svg id=\"1\"/>", "finish:<svg id=\"2\"/>"} << kNone
            << QUrl();
        QTest::newRow("no end: nothing finished")
            << QString() << FakeResponse().write(line({{"c", "<svg></svg>"}, {"url", "/d/42"}}))
            << "<svg></svg>" << QStringList{"reset", "+<svg></svg>"} << kNone << QUrl();
        QTest::newRow("dropped") << QString()
                                 << FakeResponse(200, FakeResponse::Framing::ContentLength)
                                        .write(line({{"c", "<svg><rect/>"}, {"url", "http://exa mple.com/"}}))
                                        .drop()
                                        .write(line({{"done", true}}))
                                 << "<svg><rect/>" << QStringList{"reset", "+<svg><rect/>"}
                                 << OptionalText("The network connection was lost.") << QUrl();
        QTest::newRow("refused: its status, not its body")
            << QString() << FakeResponse::json(401, "{\"error\":\"token expired\"}") << QString() << reset
            << OptionalText("generation failed (HTTP 401)") << QUrl();
        QTest::newRow("signed out") << "signed out" << FakeResponse() << QString() << reset << signIn
                                    << QUrl();
        QTest::newRow("no account") << "no account" << FakeResponse() << QString() << reset << signIn
                                    << QUrl();
        QTest::newRow("paying by key without one")
            << "key" << FakeResponse() << QString() << reset
            << OptionalText(QString::fromUtf16(
                   u"No OpenRouter key \u2014 add one from the \u22ef menu, or switch to Dravlin Credit."))
            << QUrl();
    }
    void aCloudRunEndsAsItsEventsSay()
    {
        QFETCH(QString, situation);
        QFETCH(FakeResponse, reply);
        QFETCH(QStringList, canvas);
        WindowSession h(situation != QLatin1String("signed out"));
        h.session->setSelectedModel(QStringLiteral("vendor/painter"));
        if (situation == QLatin1String("no account"))
            h.session->setAccount(nullptr);
        if (situation == QLatin1String("key"))
            h.session->setPayWith(QStringLiteral("key"));
        h.server.route("POST", "/api/v1/generations", reply);
        QVERIFY(h.draw());
        QCOMPARE(canvasLog(h.view), canvas);
        QTEST(h.session->narration(), "narration");
        QTEST(h.session->statusNote(), "note");
        QTEST(h.session->publishedURL(), "link");
        QCOMPARE(h.session->resultSVG(), finished(canvas));
        QCOMPARE(h.requestsTo("POST", "/api/v1/generations"), situation.isEmpty() ? 1 : 0);
        QVERIFY(h.waitForRequests("GET", "/api/v1/me", int(canvas.filter(QStringLiteral("finish:")).size())));
    }

    // A finished local drawing of a signed-in user is published under the model that drew it, with
    // the whole transcript, unless the user said not to; a failed publish keeps the drawing.
    void publishingALocalDrawing_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("publish");
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QUrl>("link");
        QTest::addColumn<OptionalText>("note");
        const FakeResponse created = FakeResponse::json(201, "{\"url\":\"https://dravlin.app/d/3\"}");
        QTest::newRow("signed out") << false << true << created << QUrl() << kNone;
        QTest::newRow("publishing turned off") << true << false << created << QUrl() << kNone;
        QTest::newRow("published") << true << true << created << QUrl("https://dravlin.app/d/3") << kNone;
        QTest::newRow("refused") << true << true << FakeResponse::json(413, R"({"error":"SVG too large"})")
                                 << QUrl() << OptionalText("Publish failed: SVG too large");
        QTest::newRow("200 is not created")
            << true << true << FakeResponse::json(200, "{\"url\":\"https://a.b/d\"}") << QUrl()
            << OptionalText("Publish failed: publish failed");
    }
    void publishingALocalDrawing()
    {
        QFETCH(bool, signedIn);
        QFETCH(bool, publish);
        QFETCH(FakeResponse, reply);
        WindowSession h(signedIn);
        QVERIFY(h.session->publishLocal());
        h.session->setPublishLocal(publish);
        QCOMPARE(DrawSession().publishLocal(), publish); // the choice holds for every window
        h.server.route(
            "POST", "/api/chat",
            FakeResponse().writeEach({said("", "Tall tower."), said("<svg><rect/></svg>"), chatDone()}));
        h.server.route("POST", "/api/v1/drawings", reply);
        h.session->start(QStringLiteral("  a lighthouse "));
        h.session->setSelectedModel(QStringLiteral("other:1b")); // the picker moves on mid-run
        QVERIFY(h.waitForEnd());
        QCOMPARE(h.session->resultSVG(), OptionalText("<svg><rect/></svg>"));
        QVERIFY(h.session->durationText());
        QTEST(h.session->publishedURL(), "link");
        QTEST(h.session->statusNote(), "note");
        QCOMPARE(h.requestsTo("POST", "/api/v1/drawings"), signedIn && publish ? 1 : 0);
        if (!signedIn || !publish)
            return;
        QJsonObject body = bodyOf(h.sent("/api/v1/drawings"));
        QVERIFY(body.take("duration_ms").toDouble(-1) >= 0);
        // The transcript is everything the model said, thinking and markup included; no cost.
        QCOMPARE(body, (QJsonObject{{"prompt", "a lighthouse"},
                                    {"model_id", "qwen3:4b"},
                                    {"model_label", QString::fromUtf16(u"qwen3:4b \u00b7 local")},
                                    {"provider", "local"},
                                    {"svg", "<svg><rect/></svg>"},
                                    {"content", "Tall tower.<svg><rect/></svg>"}}));
    }

    // The drawing in a reply: closed, or cut off at the end for a local run; inside a fenced block
    // before any mention of the tag; in the answer before the thinking.
    void findingTheDrawing_data()
    {
        QTest::addColumn<QString>("thinking");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<OptionalText>("local");
        QTest::addColumn<OptionalText>("cloud");
        const QString d = QStringLiteral("<svg viewBox=\"0 0 2 2\"><rect/></svg>");
        const QString nested =
            QStringLiteral("<svg><svg x=\"1\"><rect/></svg><svg a=\"/>\"/><circle/></SVG>");
        const QString hidden = QStringLiteral("<svg><!-- <svg> --><style><![CDATA[</svg>]]></style></svg>");
        const QString cased = QStringLiteral("<sVg VIEWBOX=\"0 0 1 1\"><CIRCLE/></SvG>");
        auto row = [](const char *name, const QString &thinking, const QString &answer,
                      const OptionalText &local, const OptionalText &cloud) {
            QTest::newRow(name) << thinking << answer << local << cloud;
        };
        row("two drawings: the first", {}, "<svg id=\"1\"></svg> <svg></svg>", "<svg id=\"1\"></svg>",
            "<svg id=\"1\"></svg>");
        row("any letter case", {}, "x " + cased + " y", cased, cased);
        row("cut off inside", {}, "Plan\n<svg><path d=\"M0", "<svg><path d=\"M0", kNone);
        row("nothing", {}, "I'd rather not.", kNone, kNone);
        row("a close before the open", {}, "</svg> then <svg>x", "<svg>x", kNone);
        row("the close must follow the open tag", {}, "<svg/svg>", "<svg/svg>", kNone);
        row("names that only start with svg", {}, "<svg</svg> <svga> <SVGfoo x> <svg\t>x</svg>",
            "<svg\t>x</svg>", "<svg\t>x</svg>");
        row("a lone <svg/>", {}, "<svg/>", "<svg/>", kNone);
        row("nested drawings do not end the outer one", {}, nested + " <svg></svg>", nested, nested);
        row("tags in comments and CDATA", {}, hidden, hidden, hidden);
        row("a nested drawing left open", {}, "<svg><svg><rect/></svg>", "<svg><svg><rect/></svg>", kNone);
        row("an open tag at the very end", {}, "text <svg", "<svg", kNone);
        row("almost a tag", {}, "<sv <svgx </svg", kNone, kNone);
        row("non-ASCII letters are not folded", {}, QString::fromUtf16(u"<\u017Fvg></svg>"), kNone, kNone);
        row("a mention, then a fence on its own line", {},
            "A single <svg> it is.\n```svg\n" + d + "\n```\nDone.", d, d);
        row("a fence mid-line", {}, "A single <svg> it is. ```svg " + d + "```", d, d);
        row("a fence named in the narration too", {}, "One <svg> in a ```svg block.\n```svg\n" + d + "\n```",
            d, d);
        row("cut off inside the fence", {}, "A single <svg> it is.\n```svg\n<svg><rect", "<svg><rect", kNone);
        row("no close inside a closed fence", {}, "```svg\n<svg><rect/>\n```\nThat's it.", "<svg><rect/>\n",
            kNone);
        row("a fence without a drawing", {}, "Plan:\n```\nsky, sea\n```\n" + d, d, d);
        row("thinking that mentions the tag", "Maybe <svg></svg> first?", d, d, d);
        row("a drawing only in the thinking", "Here: " + d, "See above.", d, kNone);
        row("an open answer beats a closed thinking", d, "<svg><rect", "<svg><rect", kNone);
    }
    void findingTheDrawing()
    {
        QFETCH(QString, thinking);
        QFETCH(QString, answer);
        QTEST(SvgExtract::localRun(answer, thinking + answer), "local");
        QTEST(SvgExtract::cloudRun(answer), "cloud");
    }
};

QTEST_GUILESS_MAIN(TestDrawSession)
#include "tst_drawsession.moc"
