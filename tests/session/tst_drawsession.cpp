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
#include <QSettings>
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

QByteArray progress(double completed)
{
    return line({{"status", "pulling 26bd"}, {"total", 100}, {"completed", completed}});
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

// A picture in that format; a text chunk of the PNG's own when text is given.
QByteArray encoded(const char *format, QSize size = QSize(8, 6), const QString &text = {})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    if (!text.isEmpty())
        image.setText(QStringLiteral("Location"), text);
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

const QByteArray kCatalog = R"({
  "models": [
    {"name":"alpha:14b","size_gb":9.0,"min_ram_gb":16,"blurb":"Big alpha","launched_on":"2025-03-04","date_precise":true},
    {"name":"beta:4b","size_gb":2.5,"min_ram_gb":8,"blurb":"Beta","updated_days":3,"pulls":120,"cloud_id":"vendor/beta","launched_on":"2025-12-31","date_precise":false},
    {"name":"alpha:4b","size_gb":3,"min_ram_gb":8.0,"blurb":"Small alpha","launched_on":"2025-03-04"}
  ],
  "cloud_catalog": [{"id":"vendor/seer","name":"Seer","vision":true,"created":1700000000},
    {"id":"vendor/painter","name":"Painter"}, {"id":"vendor/seer","name":"Second Seer"}],
  "featured_cloud": ["vendor/painter","vendor/seer"]
})";
} // namespace

class TestDrawSession : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private Q_SLOTS:
    // A start is refused for a blank prompt, without a model, or while a run is on, and then
    // changes nothing at all; an accepted one clears everything the last run left.
    void startingARun()
    {
        WindowSession h(true);
        const QString painter = QStringLiteral("vendor/painter");
        h.session->catalog()->setSelectedModel(painter);
        h.server.route(
            "POST", "/api/v1/generations",
            FakeResponse().writeEach(
                {line({{"url", "https://dravlin.app/d/1"}, {"error", "Slow"}, {"c", "<svg></svg>"}}),
                 line({{"done", true}})}));
        QVERIFY(h.draw(QStringLiteral("first")));
        QCOMPARE(h.session->statusNote(), OptionalText("Slow")); // a message beside a drawing stays
        QVERIFY(h.session->resultSVG() && h.session->durationText() && h.session->publishedURL().isValid());
        QVERIFY(h.server.waitForRequests("GET", "/api/v1/me", 1)); // the balance, asked for after the end
        auto refused = [&h](const QString &prompt, const QString &model) {
            const QStringList before = seen(h);
            h.session->catalog()->setSelectedModel(model);
            h.session->start(prompt);
            QCoreApplication::processEvents();
            return seen(h) == before;
        };
        QVERIFY(refused(" \n\t \r\n ", painter) && refused("", painter) && refused("a fox", ""));

        h.session->catalog()->setSelectedModel(painter);
        h.server.route("POST", "/api/v1/generations", FakeResponse().write(line({{"r", "Plan"}})).hold());
        h.session->start(QStringLiteral("\n second "));
        QVERIFY(h.session->running() && h.session->turnStartedAt().isValid());
        QCOMPARE(seen(h).mid(0, 6), (QStringList{"second", "", "-", "-", "-", ""}));
        QCOMPARE(canvasLog(h.view).last(), QStringLiteral("reset"));
        QSignalSpy narration(h.session, &DrawSession::narrationChanged);
        QVERIFY(narration.wait());
        QVERIFY(refused("third", painter));
    }

    // Only the answer reaches the canvas (a local failure's partial drawing is the end-to-end test's).
    // A signed-in user's local drawing is published under the model that drew it, unless turned off,
    // and a failed publish keeps it; the service's cut wins, only a web address becomes a link, and
    // every cloud end refreshes the balance. situation: local (signed out, or how it is published),
    // cloud, or why a cloud run cannot be sent.
    void aRunEndsAsItsReplySays_data()
    {
        columns<QString, FakeResponse, QString, QStringList, OptionalText, QUrl>(
            "situation", "reply", "narration", "canvas", "note", "link");
        auto row = [](const char *name, const char *situation, const FakeResponse &reply,
                      const QString &narration, const QStringList &canvas, const OptionalText &note,
                      const QUrl &link = QUrl()) {
            QTest::newRow(name) << QString::fromLatin1(situation) << reply << narration << canvas << note
                                << link;
        };
        const FakeResponse none;
        const QStringList reset{"reset"};
        const FakeResponse tower = FakeResponse().writeEach(
            {chatLine("", "Tall tower."), chatLine("<svg><rect/></svg>"), chatDone()});
        const QString towerText = QStringLiteral("Tall tower.<svg><rect/></svg>");
        const QStringList towerCanvas{"reset", "+", "+<svg><rect/></svg>", "finish:<svg><rect/></svg>"};
        row("local: published", "local, published", tower, towerText, towerCanvas, kNone,
            QUrl("https://dravlin.app/d/3"));
        row("local: publishing turned off", "local, publishing off", tower, towerText, towerCanvas, kNone);
        row("local: a publish answered 200 is not created", "local, publish refused", tower, towerText,
            towerCanvas, OptionalText("Publish failed: publish failed"));
        row("local: a canvas that cannot hand over its drawing", "local, canvas gone", tower, towerText,
            towerCanvas, OptionalText("Publish failed: the canvas couldn't hand over the drawing."));
        row("local: a drawing written only while thinking", "local",
            FakeResponse().writeEach(
                {chatLine("", "Draft: <svg><rect/></svg>"), chatLine("Done."), chatDone()}),
            "Draft: <svg><rect/></svg>Done.", {"reset", "+", "+Done.", "finish:<svg><rect/></svg>"}, kNone);
        row("local: thinking only", "local",
            FakeResponse().writeEach({chatLine("", "Hmm"), chatLine("", ", wings?"), chatDone()}),
            "Hmm, wings?", {"reset", "+", "+", "finish:"}, kNoSvg);
        const QString open = QStringLiteral("One <svg>:\n```svg\n<svg viewBox=\"0 0 2 2\">");
        row("cloud: reasoning, answer and lines that are no events", "cloud",
            FakeResponse().writeEach(
                {line({{"r", "Thinking of <svg> "}, {"url", "https://dravlin.app/d/42"}}),
                 line({{"c", open}}), "\r\n[]\r\nnot json\r",
                 line({{"c", "<rect/></svg>\n```"}, {"done", true}})}),
            "Thinking of <svg> " + open + "<rect/></svg>\n```",
            {"reset", "+" + open, "+<rect/></svg>\n```", "finish:<svg viewBox=\"0 0 2 2\"><rect/></svg>"},
            kNone, QUrl("https://dravlin.app/d/42"));
        row("cloud: the service's cut wins", "cloud",
            FakeResponse().writeEach({line({{"c", "<svg id=\"s\"></svg>"}, {"url", "http://127.0.0.1:9/d"}}),
                                      line({{"done", QJsonValue::Null}, {"svg", "<svg id=\"f\"/>"}})}),
            "<svg id=\"s\"></svg>", {"reset", "+<svg id=\"s\"></svg>", "finish:<svg id=\"f\"/>"}, kNone,
            QUrl("http://127.0.0.1:9/d"));
        row("cloud: an open drawing, a cut of the wrong type", "cloud",
            FakeResponse().writeEach({line({{"c", "<svg><rect"}, {"url", "file:///etc/passwd"}}),
                                      line({{"done", 1}, {"svg", 7}})}),
            "<svg><rect", {"reset", "+<svg><rect", "finish:"}, kNoSvg);
        row("cloud: a lone <svg/> is no drawing, the message gives way", "cloud",
            FakeResponse().writeEach({line({{"error", "Provider error"}, {"url", "javascript:alert(1)"}}),
                                      line({{"c", "<svg/>"}, {"done", true}})}),
            "<svg/>", {"reset", "+<svg/>", "finish:"}, kNoSvg);
        row("cloud: no end, nothing finished", "cloud",
            FakeResponse().write(line({{"c", "<svg></svg>"}, {"url", "/d/42"}})), "<svg></svg>",
            {"reset", "+<svg></svg>"}, kNone);
        row("cloud: dropped", "cloud",
            FakeResponse(200, FakeResponse::Framing::ContentLength)
                .write(line({{"c", "<svg><rect/>"}, {"url", "http://exa mple.com/"}}))
                .drop()
                .write(line({{"done", true}})),
            "<svg><rect/>", {"reset", "+<svg><rect/>"}, OptionalText("The network connection was lost."));
        row("cloud: refused, its status and not its body", "cloud",
            FakeResponse::json(401, "{\"error\":\"token expired\"}"), QString(), reset,
            OptionalText("generation failed (HTTP 401)"));
        const OptionalText signIn(QStringLiteral("Sign in to draw with cloud models."));
        row("cloud: signed out", "signed out", none, QString(), reset, signIn);
        row("cloud: no account", "no account", none, QString(), reset, signIn);
        row("cloud: paying by key without one", "key", none, QString(), reset,
            OptionalText(QString::fromUtf16(
                u"No OpenRouter key \u2014 add one from the \u22ef menu, or switch to Dravlin Credit.")));
    }
    void aRunEndsAsItsReplySays()
    {
        QFETCH(QString, situation);
        QFETCH(FakeResponse, reply);
        QFETCH(QStringList, canvas);
        const bool local = situation.startsWith(u"local");
        WindowSession h(situation != QLatin1String("local") && situation != QLatin1String("signed out"));
        QVERIFY(h.session->publishLocal());
        h.session->setPublishLocal(!situation.endsWith(u"off"));
        QCOMPARE(DrawSession().publishLocal(), !situation.endsWith(u"off")); // it holds for every window
        h.server.route("POST", "/api/v1/drawings",
                       situation.endsWith(u"refused")
                           ? FakeResponse::json(200, "{\"url\":\"https://a.b/d\"}")
                           : FakeResponse::json(201, "{\"url\":\"https://dravlin.app/d/3\"}"));
        if (!local)
            h.session->catalog()->setSelectedModel(QStringLiteral("vendor/painter"));
        if (situation == QLatin1String("no account"))
            h.session->setAccount(nullptr);
        if (situation == QLatin1String("key"))
            h.session->setPayWith(QStringLiteral("key"));
        h.server.route("POST", local ? "/api/chat" : "/api/v1/generations", reply);
        // The page's own serialization of what it shows, unlike anything the model wrote.
        const QString shown = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\"><rect/></svg>");
        h.view.onQuery = [&](const QString &script) {
            const bool gone = situation.endsWith(u"gone");
            return script.contains(QLatin1String("drawingSvg")) && !gone ? QVariant(shown) : QVariant();
        };
        h.session->start(QStringLiteral("  a lighthouse "));
        QVERIFY(h.session->running());
        h.session->catalog()->setSelectedModel(QStringLiteral("other:1b")); // the picker moves on mid-run
        QVERIFY(runEnds(h.session));
        QCOMPARE(canvasLog(h.view), canvas);
        QTEST(h.session->narration(), "narration");
        // Thinking and answer are kept apart as well (every reply here thinks before it answers),
        // and the transcript names the model the run used, not the one picked since.
        QTEST(h.session->thinking() + h.session->answer(), "narration");
        QCOMPARE(h.session->runModelLabel(),
                 local ? QStringLiteral("qwen3:4b") : QStringLiteral("vendor/painter"));
        QTEST(h.session->statusNote(), "note");
        QTEST(h.session->publishedURL(), "link");
        QCOMPARE(h.session->resultSVG(), finished(canvas));
        // Only a drawing has a time: "12.3s".
        const QRegularExpression time(QStringLiteral("^\\d+\\.\\ds$"));
        QCOMPARE(time.match(h.session->durationText().value_or("")).hasMatch(), finished(canvas).has_value());
        const bool published = situation.endsWith(u"published");
        QCOMPARE(h.server.requestsTo("POST", "/api/v1/drawings"),
                 published || situation.endsWith(u"refused") ? 1 : 0);
        if (published) {
            QJsonObject body = bodyOf(h.server.lastTo("/api/v1/drawings"));
            QVERIFY(body.take("duration_ms").toDouble(-1) >= 0);
            // What others see: the drawing as the canvas shows it, and the answer's narration
            // without the private thinking; no cost.
            QCOMPARE(body, (QJsonObject{{"prompt", "a lighthouse"},
                                        {"model_id", "qwen3:4b"},
                                        {"model_label", QString::fromUtf16(u"qwen3:4b \u00b7 local")},
                                        {"provider", "local"},
                                        {"svg", shown},
                                        {"content", SvgExtract::prose(h.session->answer())}}));
            QVERIFY(!h.session->thinking().isEmpty() && !body.value("content").toString().contains("tower"));
        }
        if (local)
            return;
        QCOMPARE(h.server.requestsTo("POST", "/api/v1/generations"),
                 situation == QLatin1String("cloud") ? 1 : 0);
        QVERIFY(h.server.waitForRequests("GET", "/api/v1/me",
                                         int(canvas.filter(QStringLiteral("finish:")).size())));
    }

    // A stop keeps what the canvas shows, finishes nothing and closes the request; a finished drawing
    // stays. stopOn: "narration" or a request awaited first, none: at once; no canvas: window closed.
    void stopping_data()
    {
        columns<QString, FakeResponse, QByteArray, QStringList, OptionalText>("model", "reply", "stopOn",
                                                                              "canvas", "note");
        auto row = [](const char *name, const char *model, const FakeResponse &reply, const char *stopOn,
                      const QStringList &canvas, const OptionalText &note) {
            QTest::newRow(name) << QString::fromLatin1(model) << reply << QByteArray(stopOn) << canvas
                                << note;
        };
        const FakeResponse drawing = FakeResponse().write(chatLine("<svg><rect/>")).hold().write(chatDone());
        const FakeResponse none;
        const QStringList partial{"reset", "+<svg><rect/>"};
        const QStringList reset{"reset"};
        row("before a local run begins", "qwen3:4b", none, "", reset, kStopped);
        row("before a cloud run begins", "vendor/painter", none, "", reset, kStopped);
        row("while the model loads", "qwen3:4b", FakeResponse().hold().write(chatLine("<svg></svg>")),
            "/api/chat", reset, kStopped);
        row("mid-drawing, local", "qwen3:4b", drawing, "narration", partial, kStopped);
        row("mid-drawing, cloud", "vendor/painter",
            FakeResponse().write(line({{"c", "<svg><rect/>"}})).hold(), "narration", partial, kStopped);
        row("while publishing", "qwen3:4b", FakeResponse().writeEach({chatLine("<svg></svg>"), chatDone()}),
            "/api/v1/drawings", {"reset", "+<svg></svg>", "finish:<svg></svg>"}, kNone);
        row("closing the window", "qwen3:4b", drawing, "narration", {}, kNone);
    }
    void stopping()
    {
        QFETCH(QString, model);
        QFETCH(FakeResponse, reply);
        QFETCH(QByteArray, stopOn);
        QFETCH(QStringList, canvas);
        WindowSession h(true);
        h.session->catalog()->setSelectedModel(model);
        h.server.route("POST", "/api/chat", reply);
        h.server.route("POST", "/api/v1/generations", reply);
        h.server.route("POST", "/api/v1/drawings", FakeResponse(201).hold());
        h.view.onQuery = [](const QString &) {
            return QVariant(QStringLiteral("<svg/>"));
        };
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        QSignalSpy narration(h.session, &DrawSession::narrationChanged);
        h.session->start(QStringLiteral("a heron"));
        if (stopOn == "narration")
            QVERIFY(narration.wait());
        else if (!stopOn.isEmpty())
            QVERIFY(h.server.waitForRequests("POST", stopOn, 1));
        QCOMPARE(h.session->loadingModel(), stopOn == "/api/chat");
        if (canvas.isEmpty()) {
            delete h.session;
            h.session = nullptr;
            QVERIFY(disconnected.wait());
            return;
        }
        h.session->stop();
        QVERIFY(runEnds(h.session));
        QTEST(h.session->statusNote(), "note");
        QCOMPARE(canvasLog(h.view), canvas);
        QCOMPARE(h.session->resultSVG(), finished(canvas));
        QVERIFY(!h.session->turnStartedAt().isValid() && !h.session->loadingModel());
        if (stopOn.isEmpty())
            QVERIFY(h.server.requests().isEmpty());
        else
            QVERIFY(!disconnected.isEmpty() || disconnected.wait());
    }

    // The token and the user's own key go to the service only, the key only when paying with it, and
    // an image only to a model that can see it. installed: with vision or not, none: not installed.
    void whatARunSends_data()
    {
        columns<QString, QVariant, bool, QString, QJsonObject>("model", "installed", "attached", "payWith",
                                                               "body");
        const QString jpeg = QString::fromLatin1(encoded("jpeg").toBase64());
        auto local = [](const QString &model, const QString &image = QString()) {
            const bool recreate = !image.isNull();
            QJsonObject user{{"role", "user"}, {"content", "Draw: a fox"}};
            if (recreate)
                user = {{"role", "user"},
                        {"content", "Recreate this image as an SVG. a fox"},
                        {"images", QJsonArray{image}}};
            const QJsonObject system{
                {"role", "system"},
                {"content", recreate ? Prompts::recreateSystemPrompt() : Prompts::drawSystemPrompt()}};
            return QJsonObject{{"model", model},
                               {"messages", QJsonArray{system, user}},
                               {"stream", true},
                               {"keep_alive", "10m"}};
        };
        auto cloud = [](const QString &model, const QString &label, const QString &paidWith,
                        const QString &image = QString()) {
            QJsonObject body{
                {"prompt", "a fox"}, {"model_id", model}, {"model_label", label}, {"paid_with", paidWith}};
            if (!image.isNull()) {
                body.insert("image_base64", image);
                body.insert("image_content_type", "image/jpeg");
            }
            return body;
        };
        const QString llava = QStringLiteral("llava:7b");
        const QString hub = QStringLiteral("hf.co/org/repo:Q4_K_M");
        const QString painter = QStringLiteral("vendor/painter");
        const auto row = [](const char *tag, const QString &model, const QVariant &installed, bool attached,
                            const char *payWith, const QJsonObject &body) {
            QTest::newRow(tag) << model << installed << attached << QString(payWith) << body;
        };
        row("recreate, installed from a hub", hub, true, true, "", local(hub, jpeg));
        row("an image the model cannot see", llava, false, true, "", local(llava));
        row("vision without an image", llava, true, false, "", local(llava));
        row("a slash anywhere", "a/", QVariant(), false, "", cloud("a/", "a/", "credits"));
        row("credit by default, a key saved", painter, QVariant(), true, "",
            cloud(painter, "Painter", "credits"));
        row("paying by key", painter, QVariant(), false, "key", cloud(painter, "Painter", "key"));
        row("a cloud model with vision", "vendor/seer", QVariant(), true, "credits",
            cloud("vendor/seer", "Seer", "credits", jpeg));
    }
    void whatARunSends()
    {
        QFETCH(QString, model);
        QFETCH(QVariant, installed);
        QFETCH(bool, attached);
        QFETCH(QString, payWith);
        QTemporaryDir dir;
        WindowSession h(true);
        Keychain::write(Keychain::openRouterKeyItem, QStringLiteral("sk-or-1"));
        if (!payWith.isEmpty())
            h.session->setPayWith(payWith);
        QCOMPARE(DrawSession().payWith(), payWith.isEmpty() ? QStringLiteral("credits") : payWith);
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        if (installed.isValid())
            h.session->catalog()->setInstalled({OllamaModel{model, true, installed.toBool(), 1, {}}});
        h.session->catalog()->setSelectedModel(model);
        const QString path = dir.filePath(QStringLiteral("photo.jpg"));
        if (attached)
            QVERIFY(writeFile(path, encoded("jpeg")) && h.session->reference()->attachFile(path));
        QVERIFY(h.draw(QStringLiteral("  a fox \n")));
        QCOMPARE(h.session->reference()->attached(), attached);
        const bool cloud = h.session->catalog()->selectedIsCloud();
        QCOMPARE(
            h.server.requestsTo("POST", "/api/chat") + h.server.requestsTo("POST", "/api/v1/generations"), 1);
        const RecordedRequest request = h.server.lastTo(cloud ? "/api/v1/generations" : "/api/chat");
        QTEST(bodyOf(request), "body");
        QCOMPARE(request.header("Authorization"), cloud ? QByteArray("Bearer tok-1") : QByteArray());
        QCOMPARE(request.header("X-Openrouter-Key"), payWith == "key" ? QByteArray("sk-or-1") : QByteArray());
    }

    // A reference image is judged by its bytes, not its name: only PNG, JPEG, GIF and WebP of at most
    // 20 MB go, and what a camera wrote into it (where, with what) stays here; a refusal says why and
    // changes nothing. bytes null: no such file; size: padded to it when set; no preview: refused.
    void attachingAnImage_data()
    {
        columns<QString, QByteArray, qint64, QSize, QString, QByteArray>("name", "bytes", "size", "preview",
                                                                         "outcome", "sent");
        const QByteArray jpeg = encoded("jpeg");
        const QByteArray png = encoded("png");
        const QByteArray big = encoded("png", QSize(1200, 600));
        const QString unreadable = QStringLiteral("That file couldn't be opened as an image.");
        const QString notTaken = QStringLiteral("Use a PNG, JPEG, GIF or WebP image.");
        // Taken: the preview's size, and what is sent when it is not the file as it is.
        const auto taken = [](const char *tag, const char *name, const QByteArray &bytes, const char *type,
                              QSize preview = QSize(8, 6), const QByteArray &sent = {}, qint64 size = 0) {
            QTest::newRow(tag) << QString(name) << bytes << size << preview << QString(type) << sent;
        };
        const auto refused = [](const char *tag, const char *name, const QByteArray &bytes,
                                const QString &why, qint64 size = 0) {
            QTest::newRow(tag) << QString(name) << bytes << size << QSize() << why << QByteArray();
        };
        // A photo's location, where a camera puts it, and a PNG's text chunk.
        const QByteArray exif =
            QByteArray("\xFF\xE1\x00\x16", 4) + QByteArray("Exif\0\0GPS 48.85N 2.35E", 20);
        const QByteArray located = jpeg.left(2) + exif + jpeg.mid(2);
        const QByteArray annotated = encoded("png", QSize(8, 6), QStringLiteral("Paris"));
        // Qt reads GIF but does not write it: the smallest one there is, by hand.
        const QByteArray gif = QByteArray::fromHex("474946383961"
                                                   "01000100800000"
                                                   "000000ffffff"
                                                   "21f9040100000000"
                                                   "2c000000000100010000"
                                                   "0202440100"
                                                   "3b");
        taken("JPG", "photo.JPG", jpeg, "image/jpeg");
        taken("no extension", "picture", jpeg, "image/jpeg");
        taken("a PNG named .jpg", "p.jpg", png, "image/png");
        taken("webp", "w.webp", encoded("webp"), "image/webp");
        taken("gif", "g.gif", gif, "image/gif", QSize(1, 1));
        taken("a photo's location", "here.jpg", located, "image/jpeg", QSize(8, 6), jpeg);
        taken("a PNG's text", "t.png", annotated, "image/png", QSize(8, 6), png);
        taken("20 MB", "big.png", big, "image/png", QSize(512, 256), big, 20'000'000);
        refused("a byte more", "big.png", big, "That image is larger than 20 MB. Choose a smaller one.",
                20'000'001);
        refused("an SVG named .png", "s.png",
                "<svg xmlns='http://www.w3.org/2000/svg' width='8' height='6'/>", notTaken);
        refused("a BMP named .png", "b.png", encoded("bmp"), notTaken);
        refused("a TIFF named .png", "t.png", encoded("tiff"), notTaken);
        refused("text named like a picture", "fake.png", "not a picture\n", unreadable);
        refused("no such file", "gone.png", QByteArray(), unreadable);
    }
    void attachingAnImage()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, size);
        QFETCH(QSize, preview);
        QFETCH(QString, outcome);
        QFETCH(QByteArray, sent);
        QTemporaryDir dir;
        WindowSession h;
        const QString kept = dir.filePath(QStringLiteral("kept.png"));
        QVERIFY(writeFile(kept, encoded("png")) && h.session->reference()->attachFile(kept));
        const ReferenceData before = *h.session->reference()->data();
        const QString path = dir.filePath(name);
        if (!bytes.isNull())
            QVERIFY(writeFile(path, bytes) && (!size || QFile::resize(path, size)));
        QSignalSpy changed(h.session->reference(), &ReferenceAttachment::changed);
        const bool refused = !preview.isValid();
        QCOMPARE(h.session->reference()->attachFile(path), !refused);
        QCOMPARE(h.session->reference()->error(), refused ? outcome : QString());
        QCOMPARE(changed.size(), refused ? 0 : 1);
        if (refused) {
            QCOMPARE(*h.session->reference()->data(), before);
            QVERIFY(!h.session->reference()->attach(QUrl(QStringLiteral("https://example.com/a.png"))));
            h.session->reference()->clear();
            QVERIFY(!h.session->reference()->attached() && h.session->reference()->error().isEmpty());
            return;
        }
        QCOMPARE(QByteArray::fromBase64(h.session->reference()->data()->base64.toLatin1()),
                 sent.isNull() ? bytes : sent);
        QCOMPARE(h.session->reference()->data()->contentType, outcome);
        QImage shown;
        const QString source = h.session->reference()->source().toString();
        QVERIFY(shown.loadFromData(QByteArray::fromBase64(source.section(u',', 1).toLatin1()), "PNG"));
        QCOMPARE(shown.size(), preview);
    }

    // The drawing in a reply: closed, or cut off at the end for a local run; inside a fenced block
    // before any mention of the tag; in the answer before the thinking.
    void findingTheDrawing_data()
    {
        columns<QString, QString, OptionalText, OptionalText>("thinking", "answer", "local", "cloud");
        const QString d = QStringLiteral("<svg><rect/></svg>");
        const QString nested =
            QStringLiteral("<svg><svg x=\"1\"><rect/></svg><svg a=\"/>\"/><circle/></SVG>");
        const QString hidden = QStringLiteral("<svg><!-- <svg> --><style><![CDATA[</svg>]]></style></svg>");
        const QString cased = QStringLiteral("<sVg VIEWBOX=\"0 0 1 1\"><CIRCLE/></SvG>");
        auto row = [](const char *name, const QString &thinking, const QString &answer,
                      const OptionalText &local, const OptionalText &cloud) {
            QTest::newRow(name) << thinking << answer << local << cloud;
        };
        row("two drawings: the first", {}, "<svg id=1></svg> <svg></svg>", "<svg id=1></svg>",
            "<svg id=1></svg>");
        row("any letter case", {}, "x " + cased + " y", cased, cased);
        row("cut off inside", {}, "Plan\n<svg><path d=\"M0", "<svg><path d=\"M0", kNone);
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

    // The catalog is asked without a token; one bad entry anywhere, or a reply not received whole,
    // changes nothing, while a good one replaces the lists, cloud lists left out or null emptied.
    void theCatalog()
    {
        WindowSession h(true);
        h.installed(R"([{"name":"beta:1b"}])");
        QVERIFY(h.refreshModels());
        h.session->catalog()->setSelectedModel(QString());
        h.catalog(kCatalog);
        QVERIFY(h.refreshRecommended());
        QVERIFY(h.server.lastTo("/api/v1/recommended_models").header("Authorization").isNull());
        const QStringList recommended{"alpha:14b", "alpha:4b"};
        QCOMPARE(names(h.session->catalog()->recommended()), recommended);
        QCOMPARE(h.session->catalog()->selectedModel(), QStringLiteral("vendor/painter"));
        QCOMPARE(h.session->catalog()->localByFamily().keys(), (QStringList{"alpha", "beta"}));
        QCOMPARE(h.session->catalog()->localByFamily().value("beta"),
                 (RecommendedModel{
                     "beta:4b", 2.5, 8, "Beta", {}, 3, 120, {}, "vendor/beta", "2025-12-31", false}));
        // Dated to the day only when the catalog says the date is exact.
        QCOMPARE(h.session->catalog()->releaseLabel({"alpha:8b", true, false, 0, {}}).value_or(""),
                 QStringLiteral("Mar 4, 2025"));
        QCOMPARE(h.session->catalog()->releaseLabel({"beta:1b", true, false, 0, {}}).value_or(""),
                 QStringLiteral("Dec 2025"));
        QCOMPARE(h.session->catalog()->releaseLabel({"gamma:1b", true, false, 0, {}}).value_or(""),
                 QString());
        QVERIFY(h.session->catalog()->ramGB() > 0);
        // A family is the first non-empty piece between colons.
        for (const auto &[name, family] : QList<std::pair<QString, QString>>{
                 {":alpha:8b", "alpha"}, {"::", "::"}, {"user/model:q4", "user/model"}})
            QCOMPARE(Catalog::familyName(name), family);

        const auto catalog = h.session->catalog()->cloudCatalog();
        const auto featured = h.session->catalog()->featuredCloud();
        QSignalSpy changed(h.session->catalog(), &ModelCatalog::recommendedChanged);
        QList<FakeResponse> bad{FakeResponse(200, FakeResponse::Framing::ContentLength)
                                    .write("{\"models\":[")
                                    .drop()
                                    .write("]}")};
        for (const char *body :
             {"<html>maintenance</html>", R"({"cloud_catalog":[]})", R"({"models":[1]})",
              R"({"models":[{"name":"x","size_gb":1,"min_ram_gb":1}]})",
              R"({"models":[{"name":"x","size_gb":1,"min_ram_gb":8.5,"blurb":"b"}]})",
              R"({"models":[{"name":"x","size_gb":1,"min_ram_gb":8,"blurb":"b","updated_days":"3"}]})",
              R"({"models":[],"cloud_catalog":[{"id":"a/b"}]})",
              R"({"models":[],"cloud_catalog":[{"id":"a/b","name":"n","vision":"yes"}]})",
              R"({"models":[],"featured_cloud":["a/b",7]})"})
            bad << FakeResponse::json(200, body);
        for (qsizetype i = 0; i < bad.size(); ++i) {
            h.server.route("GET", "/api/v1/recommended_models", bad.at(i));
            QVERIFY(h.refreshRecommended());
            QVERIFY2(changed.isEmpty() && names(h.session->catalog()->recommended()) == recommended &&
                         h.session->catalog()->cloudCatalog() == catalog &&
                         h.session->catalog()->featuredCloud() == featured,
                     QByteArray::number(i));
        }
        h.catalog(
            R"({"models":[{"name":"g:1b","size_gb":1,"min_ram_gb":4,"blurb":"g","updated":null}],"featured_cloud":null})");
        QVERIFY(h.refreshRecommended());
        QCOMPARE(changed.size(), 1);
        QCOMPARE(names(h.session->catalog()->recommended()), QStringList{"g:1b"});
        QVERIFY(h.session->catalog()->cloudCatalog().isEmpty() &&
                h.session->catalog()->featuredCloud().isEmpty());
    }

    // What the picker offers and which model stays selected as a listing, a toggle or the account's
    // list comes in. change: a listing, the account's list, "down", or an id toggled; sent: the list
    // the account is given, none: nothing sent.
    void whatThePickerOffers_data()
    {
        columns<bool, QByteArray, QString, QString, QByteArray, QString, QString, QByteArray>(
            "signedIn", "installed", "enabled", "selected", "change", "stored", "kept", "sent");
        auto row = [](const char *name, bool signedIn, const char *installed, const char *enabled,
                      const char *selected, const char *change, const char *stored, const char *kept,
                      const char *sent = nullptr) {
            QTest::newRow(name) << signedIn << QByteArray(installed) << QString::fromLatin1(enabled)
                                << QString::fromLatin1(selected) << QByteArray(change)
                                << QString::fromLatin1(stored) << QString::fromLatin1(kept)
                                << QByteArray(sent);
        };
        const char *none = "[]";
        const char *two = R"([{"name":"zeta:1b"},{"name":"alpha:8b"}])";
        const char *alpha = R"([{"name":"alpha:8b"}])";
        const char *hub = R"([{"name":"alpha:8b"},{"name":"hf.co/org/repo:Q4_K_M"}])";
        const char *hubModel = "hf.co/org/repo:Q4_K_M";
        row("listed: the first, sorted", false, none, "", "", two, "", "alpha:8b");
        row("listed: a removed one gives way", false, two, "", "zeta:1b", alpha, "", "alpha:8b");
        row("listed: a namespaced local model stays", false, hub, "", hubModel, hub, "", hubModel);
        row("listed: and is no cloud model once removed", false, hub, "", hubModel, alpha, "", "alpha:8b");
        row("listed: nothing", false, alpha, "", "alpha:8b", none, "", "");
        row("listed: a cloud selection stays", false, alpha, "", "vendor/seer", alpha, "", "vendor/seer");
        row("listed: the server is down", false, alpha, "", "alpha:8b", "down", "", "alpha:8b");
        row("toggled: the selection off, and kept", true, none, "a/x,,b/y,", "b/y", "b/y", "a/x", "b/y",
            R"(["a/x"])");
        row("toggled: one on, put last", true, none, "b/y", "b/y", "c/z", "b/y,c/z", "b/y",
            R"(["b/y","c/z"])");
        row("toggled: the last one off", true, none, "c/z", "f/eat", "c/z", "", "f/eat", "[]");
        row("toggled signed out: stays here", false, none, "a/x", "a/x", "d/w", "a/x,d/w", "a/x");
        row("the account's: signed out, nothing asked", false, none, "a/x", "a/x", R"({"cloud_ids":[]})",
            "a/x", "a/x");
        row("the account's: empty; a featured selection stays", true, none, "a/x,b/y", "f/eat",
            R"({"cloud_ids":[]})", "", "f/eat");
        row("the account's order; a listed selection stays", true, none, "a/x", "f/eat",
            R"({"cloud_ids":["c/z","f/eat"]})", "c/z,f/eat", "f/eat");
        row("the account's: a dropped selection, the first installed", true, R"([{"name":"gemma3:1b"}])", "",
            "f/eat", R"({"cloud_ids":["c/z"]})", "c/z", "gemma3:1b");
        row("the account's: a dropped selection, the first offered", true, none, "", "f/eat",
            R"({"cloud_ids":["c/z","d/w"]})", "c/z,d/w", "c/z");
        row("the account's: a local selection stays, slash or not", true, R"([{"name":"someone/model:tag"}])",
            "", "someone/model:tag", R"({"cloud_ids":["c/z"]})", "c/z", "someone/model:tag");
        row("the account's: not understood", true, none, "a/x,,b/y,", "a/x", R"({"cloud_ids":["a/x",1]})",
            "a/x,,b/y,", "a/x");
    }
    void whatThePickerOffers()
    {
        QFETCH(bool, signedIn);
        QFETCH(QByteArray, installed);
        QFETCH(QString, enabled);
        QFETCH(QString, selected);
        QFETCH(QByteArray, change);
        QFETCH(QString, stored);
        QFETCH(QByteArray, sent);
        WindowSession h(signedIn);
        h.installed(installed);
        QVERIFY(h.refreshModels());
        h.catalog(R"({"models":[],"featured_cloud":["f/eat"]})");
        QVERIFY(h.refreshRecommended());
        // As every version has stored it: the ids joined with ",".
        QSettings(Settings::fileName(), QSettings::IniFormat).setValue("DravlinEnabledCloud", enabled);
        h.session->catalog()->setSelectedModel(selected);
        h.server.route("GET", "/api/v1/favorites", FakeResponse::json(200, change));
        h.server.route("PUT", "/api/v1/favorites", FakeResponse::json(200, "{}"));
        QSignalSpy changed(&Settings::shared(), &Settings::enabledCloudChanged);
        QSignalSpy loaded(h.session->catalog(), &ModelCatalog::favoritesLoaded);
        const bool down = change == "down";
        const bool loading = change.startsWith('{');
        if (down || change.startsWith('[')) {
            if (down)
                h.session->client()->setBase(QUrl(QStringLiteral("http://127.0.0.1:1")));
            h.installed(change);
            QVERIFY(h.refreshModels());
        } else if (loading) {
            h.session->catalog()->loadFavorites(nullptr);
            QVERIFY(!loaded.isEmpty() || loaded.wait());
        } else {
            h.session->catalog()->toggleCloud(QString::fromLatin1(change));
            QVERIFY(sent.isNull() || h.server.waitForRequests("PUT", "/api/v1/favorites", 1));
        }
        QCOMPARE(h.session->catalog()->ollamaUp(), !down);
        QCOMPARE(
            QSettings(Settings::fileName(), QSettings::IniFormat).value("DravlinEnabledCloud").toString(),
            stored);
        QTEST(h.session->catalog()->selectedModel(), "kept");
        QCOMPARE(changed.size(), stored == enabled ? 0 : 1);
        QCOMPARE(names(h.session->catalog()->cloudModels()),
                 stored.isEmpty() ? QStringList{"f/eat"} : h.session->catalog()->enabledCloudIDs());
        QCoreApplication::processEvents();
        QCOMPARE(h.server.requestsTo("GET", "/api/v1/favorites"), signedIn && loading ? 1 : 0);
        QCOMPARE(h.server.requestsTo("PUT", "/api/v1/favorites"), sent.isNull() ? 0 : 1);
        const QJsonArray ids = bodyOf(h.server.lastTo("/api/v1/favorites")).value("cloud_ids").toArray();
        QCOMPARE(sent.isNull() ? QByteArray() : QJsonDocument(ids).toJson(QJsonDocument::Compact), sent);
    }

    // Downloads go side by side; a cancelled one deletes what arrived, but one that has ended (or
    // whose family shows up in a listing while the server hangs) must not be deleted by a late
    // cancel. A failure says why until the next download or until dismissed. (That a download
    // outlives the window that started it is the shell's test.)
    void downloads()
    {
        WindowSession h(false, 50);
        h.installed("[]");
        h.catalog(kCatalog);
        h.server.setHandler([](const RecordedRequest &request) {
            const QString model = bodyOf(request).value("model").toString();
            if (model == QLatin1String("alpha:4b"))
                return FakeResponse().write(progress(20)).hold().write(progress(90));
            if (model == QLatin1String("beta:4b"))
                return FakeResponse()
                    .writeEach({"{\"status\":\"pulling manifest\"}\n", progress(25)})
                    .hold()
                    .writeEach({progress(50), "{\"status\":\"success\"}\n"});
            if (model == QLatin1String("delta:1b"))
                return FakeResponse().writeEach({progress(10), "{\"error\":\"file does not exist\"}\n"});
            // The server's own count, far past its total: the percent shown stays below 100.
            return FakeResponse().write(progress(1e12)).hold().hold();
        });
        h.server.route("DELETE", "/api/delete", FakeResponse::json(404, R"({"error":"model not found"})"));
        QSignalSpy disconnected(&h.server, &FakeHttpServer::clientDisconnected);
        QSignalSpy refreshed(h.session->catalog(), &ModelCatalog::recommendedRefreshed);
        for (const char *name : {"alpha:4b", "beta:4b", "beta:4b", "gamma:1b", "delta:1b"})
            h.downloads.pull(QString::fromLatin1(name));
        QCOMPARE(h.downloads.pulling().keys(), (QStringList{"alpha:4b", "beta:4b", "delta:1b", "gamma:1b"}));
        const QMap<QString, double> going{{"alpha:4b", 0.2}, {"beta:4b", 0.25}, {"gamma:1b", 1e10}};
        const OptionalText failed(
            QStringLiteral("Couldn't get delta:1b: Unexpected Ollama response: file does not exist"));
        QTRY_VERIFY_WITH_TIMEOUT(h.downloads.pulling() == going && h.downloads.pullError() == failed, 20000);
        QCOMPARE(h.server.requestsTo("POST", "/api/pull"), 4);
        QStringList percents;
        for (int row = 0; row < h.downloads.rowCount(); ++row)
            percents << h.downloads.index(row).data(Downloads::PercentRole).toString();
        QCOMPARE(percents, (QStringList{"20%", "25%", "99%"}));

        h.downloads.cancelPull(QStringLiteral("alpha:4b"));
        QCOMPARE(h.downloads.pulling().keys(), (QStringList{"beta:4b", "gamma:1b"}));
        QVERIFY(h.server.waitForRequests("DELETE", "/api/delete", 1));
        QCOMPARE(bodyOf(h.server.lastTo("/api/delete")).value("model").toString(),
                 QStringLiteral("alpha:4b"));
        QVERIFY(!disconnected.isEmpty() || disconnected.wait());

        h.installed(R"([{"name":"beta:4b"}])");
        refreshed.clear();
        h.server.release();
        QVERIFY(refreshed.wait());
        QCOMPARE(h.downloads.pulling().keys(), QStringList{"gamma:1b"});
        QCOMPARE(names(h.session->catalog()->installed()), QStringList{"beta:4b"});
        QCOMPARE(names(h.session->catalog()->recommended()), (QStringList{"alpha:14b", "alpha:4b"}));
        QCOMPARE(h.downloads.pullError(), failed);
        h.downloads.cancelPull(QStringLiteral("beta:4b"));
        refreshed.clear();
        h.installed(R"([{"name":"beta:4b"},{"name":"gamma:latest"}])");
        QTRY_VERIFY_WITH_TIMEOUT(h.downloads.pulling().isEmpty() && !refreshed.isEmpty(), 20000);
        QTRY_COMPARE(h.server.activeConnections(), 0);
        QCOMPARE(h.server.requestsTo("DELETE", "/api/delete"), 1);

        // Not yet looked for by its watcher, a download ends with any listing that shows its family.
        h.downloads.setInstallPollIntervalMs(60000);
        h.downloads.pull(QStringLiteral("eta:1b"));
        QCOMPARE(h.downloads.pullError(), std::nullopt);
        QVERIFY(h.server.waitForRequests("POST", "/api/pull", 5));
        refreshed.clear();
        h.installed(R"([{"name":"beta:4b"},{"name":"eta:latest"}])");
        QVERIFY(h.refreshModels());
        QTRY_VERIFY_WITH_TIMEOUT(h.downloads.pulling().isEmpty() && !refreshed.isEmpty(), 20000);
        QTRY_COMPARE(h.server.activeConnections(), 0);

        h.installed(R"([{"name":"eta:latest"}])");
        h.downloads.remove(QStringLiteral("beta:4b"));
        QTRY_COMPARE_WITH_TIMEOUT(
            h.downloads.pullError(),
            OptionalText("Couldn't remove beta:4b: Unexpected Ollama response: model not found"), 20000);
        QTRY_COMPARE(names(h.session->catalog()->installed()), QStringList{"eta:latest"});
        h.downloads.dismissError();
        QCOMPARE(h.downloads.pullError(), std::nullopt);

        // Cancelled before its first turn, a download never asks the server for anything but the
        // deletion.
        const int pulls = h.server.requestsTo("POST", "/api/pull");
        const int deletes = h.server.requestsTo("DELETE", "/api/delete");
        h.downloads.pull(QStringLiteral("zeta:1b"));
        h.downloads.cancelPull(QStringLiteral("zeta:1b"));
        QVERIFY(h.server.waitForRequests("DELETE", "/api/delete", deletes + 1));
        QVERIFY(h.refreshModels());
        QCOMPARE(h.server.requestsTo("POST", "/api/pull"), pulls);
    }
};

QTEST_GUILESS_MAIN(TestDrawSession)
#include "tst_drawsession.moc"
