// The real main window under load: a recorded-style reply replayed by a loopback server (on a
// thread of its own, so the window's main thread does only the window's work).
//
//   bench_window stream            per-piece work, event-loop lag, throughput
//   bench_window startup app       ms from process start to the first usable frame and to the
//                                  frame with the canvas page loaded
//   bench_window startup minimal   a bare window holding one WebEngineView: its first frame and
//                                  the frame with its page loaded
//   bench_window startup compare N N alternating pairs of the two, medians and ratios
//   bench_window memory            PSS of every process, before and after one finished drawing
//   bench_window memory canvas     the same for a bare window holding only the canvas view
//   bench_window memory windows    what a second and a third window add, a drawing in each
//   bench_window memory windows canvas   the same for bare windows holding only the canvas view
//   bench_window memory drawings   PSS over 50 drawings in one window
//
// Run a Release build under Xvfb: xvfb-run -a -s "-screen 0 1280x800x24" build-release/bench/bench_window
// stream. BENCH_TRACE=1 adds when each stall happened and a start-up timeline; BENCH_IDLE_MS=N
// lets the window sit idle for N ms before the first drawing.
#include "canvas/canvascontroller.h"
#include "fakehttpserver.h"
#include "testenvironment.h"
#include "windowharness.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Milliseconds since this process started, from the kernel's own record of the start (read once:
// its tick is 10 ms) and a monotonic clock since.
double processStartReading()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22 of the whole line
    const double up = uptime.readAll().split(' ').value(0).toDouble();
    return (up - startTicks / double(sysconf(_SC_CLK_TCK))) * 1e3;
}

double msSinceProcessStart()
{
    static QElapsedTimer clock;
    static const double atStart = [] {
        clock.start();
        return processStartReading();
    }();
    return atStart + double(clock.nsecsElapsed()) / 1e6;
}

// Proportional set size of this process and every process below it (the web engine's), in MiB;
// with `perProcess`, each process's share is printed too.
double pssMiB(bool perProcess = false)
{
    QMap<qint64, qint64> parentOf;
    QDirIterator procs(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (procs.hasNext()) {
        const QString dir = procs.next();
        bool isPid = false;
        const qint64 pid = QFileInfo(dir).fileName().toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(dir + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        parentOf.insert(pid, line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong());
    }
    const qint64 self = QCoreApplication::applicationPid();
    double kib = 0;
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
        qint64 p = it.key();
        while (p > 1 && p != self)
            p = parentOf.value(p, 0);
        if (p != self)
            continue;
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(it.key()));
        if (!rollup.open(QIODevice::ReadOnly))
            continue;
        double own = 0;
        for (const QByteArray &row : rollup.readAll().split('\n')) {
            if (row.startsWith("Pss:"))
                own += row.mid(4).trimmed().split(' ').value(0).toDouble();
        }
        kib += own;
        if (perProcess) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(it.key()));
            cmdline.open(QIODevice::ReadOnly);
            QByteArray type = "browser";
            for (const QByteArray &arg : cmdline.readAll().split('\0')) {
                if (arg.startsWith("--type="))
                    type = arg.mid(7);
            }
            std::printf("  %-10s %6.0f MiB\n", type.constData(), own / 1024.0);
        }
    }
    return kib / 1024.0;
}

// A drawing of about `bytes` bytes in the shape models write: narration, a fenced SVG with
// gradients, groups and <use>.
QString replyOfSize(int bytes)
{
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 800 600\"><defs>"
                                 "<linearGradient id=\"g0\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\"><stop "
                                 "offset=\"0\" stop-color=\"#2b1a4a\"/>"
                                 "<stop offset=\"1\" stop-color=\"#ffc36b\"/></linearGradient>"
                                 "<circle id=\"dot\" r=\"4\" fill=\"#fff6c9\"/></defs><rect width=\"800\" "
                                 "height=\"600\" fill=\"url(#g0)\"/>\n");
    QRandomGenerator random(7);
    int n = 0;
    while (svg.size() < bytes - 40) {
        const int x = random.bounded(800), y = random.bounded(600);
        svg +=
            QStringLiteral("<g transform=\"translate(%1 %2)\"><rect width=\"%3\" height=\"%4\" rx=\"3\" "
                           "fill=\"hsl(%5 60%% 55%%)\" opacity=\"0.8\"/><use href=\"#dot\" x=\"6\" y=\"6\"/>"
                           "</g>\n")
                .arg(x)
                .arg(y)
                .arg(10 + random.bounded(60))
                .arg(10 + random.bounded(60))
                .arg((n++ * 37) % 360);
    }
    svg += QStringLiteral("</svg>");
    return QStringLiteral("A field of small shapes in warm light, laid out from back to front.\n\n```svg\n") +
           svg + QStringLiteral("\n```\n");
}

// The loopback server, on its own thread.
struct ServerThread
{
    QThread thread;
    QObject *context = nullptr;
    FakeHttpServer *server = nullptr;

    ServerThread()
    {
        thread.start();
        context = new QObject;
        context->moveToThread(&thread);
        QMetaObject::invokeMethod(
            context, [this] { server = new FakeHttpServer; }, Qt::BlockingQueuedConnection);
    }
    ~ServerThread()
    {
        QMetaObject::invokeMethod(
            context,
            [this] {
                delete server;
                delete context;
            },
            Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    void route(const QByteArray &method, const QByteArray &path, const FakeResponse &response)
    {
        QMetaObject::invokeMethod(
            context, [=, this] { server->route(method, path, response); }, Qt::BlockingQueuedConnection);
    }
    QUrl url() const { return server->url(); }
};

struct Run
{
    int pieces = 0;
    double wallMs = 0;
    double cpuMs = 0;
    QList<double> lateness;
    QString doneIn;
};

// piecesPerTick pieces every tickMs (0: as fast as the socket takes them).
Run stream(DrawSession *session, ServerThread &server, const QString &reply, int piecesPerTick, int tickMs)
{
    const QList<QByteArray> lines = WindowHarness::chatLines(reply, 4, QStringLiteral("bench:1b"));
    FakeResponse response(200);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        response.write(lines.at(i));
        if (tickMs > 0 && (i + 1) % piecesPerTick == 0)
            response.pause(tickMs);
    }
    server.route("POST", "/api/chat", response);

    Run run;
    run.pieces = int(lines.size() - 1);
    QElapsedTimer wall;
    QElapsedTimer lag;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double late = double(lag.nsecsElapsed()) / 1e6 - 5.0;
        run.lateness.append(late);
        if (late > 40 && qEnvironmentVariableIsSet("BENCH_TRACE"))
            std::printf("  stall of %.0f ms ending %.0f ms into the run, narration %lld chars\n", late,
                        double(wall.nsecsElapsed()) / 1e6, qlonglong(session->narration().size()));
        lag.restart();
    });

    if (qEnvironmentVariableIsSet("BENCH_TRACE")) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("  run starts at %ld.%06ld (wall %s)\n", long(now.tv_sec), long(now.tv_nsec / 1000),
                    qPrintable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))));
    }
    wall.start();
    const double cpu0 = threadCpuMs();
    lag.start();
    ticker.start();
    session->start(QStringLiteral("a field of shapes"));
    QSignalSpy running(session, &DrawSession::runningChanged);
    while (session->running())
        running.wait(60000);
    ticker.stop();
    run.cpuMs = threadCpuMs() - cpu0;
    run.wallMs = double(wall.nsecsElapsed()) / 1e6;
    run.doneIn = session->durationText().value_or(QStringLiteral("(none)"));
    return run;
}

void report(const char *name, const Run &run)
{
    QList<double> late = run.lateness;
    std::sort(late.begin(), late.end());
    const double p99 = late.isEmpty() ? 0 : late.at(qMin(late.size() - 1, qsizetype(late.size() * 0.99)));
    const double worst = late.isEmpty() ? 0 : late.last();
    std::printf("%-34s %6d pieces  %8.0f ms wall  %7.0f pieces/s  main-thread %7.1f ms (%5.1f us/piece)  "
                "lag p99 %5.1f ms, max %6.1f ms  Done in %s\n",
                name, run.pieces, run.wallMs, run.pieces / (run.wallMs / 1e3), run.cpuMs,
                run.cpuMs * 1e3 / run.pieces, p99, worst, qPrintable(run.doneIn));
    std::fflush(stdout);
}

bool pageLoaded(const QObject *view)
{
    return view->property("loadProgress").toInt() == 100 && !view->property("loading").toBool();
}

// The app's window with its canvas page loaded and the loopback server's one model listed.
bool openWindow(WindowHarness &h, ServerThread &server)
{
    server.route("GET", "/api/tags", FakeResponse::json(200, R"({"models":[{"name":"bench:1b"}]})"));
    if (!h.load())
        return false;
    h.session()->client()->setBase(server.url());
    while (!canvasLoaded(h.window))
        QTest::qWait(20);
    QSignalSpy refreshed(h.session()->catalog(), &ModelCatalog::modelsRefreshed);
    h.session()->catalog()->refreshModels();
    refreshed.wait(10000);
    return true;
}

int benchStream()
{
    WindowHarness h;
    ServerThread server;
    if (!openWindow(h, server))
        return 1;

    if (qEnvironmentVariableIsSet("BENCH_IDLE_MS"))
        QTest::qWait(qEnvironmentVariableIntValue("BENCH_IDLE_MS"));
    const QString reply20 = replyOfSize(20 * 1024);
    const QString reply100 = replyOfSize(100 * 1024);
    // The session's first drawing shows the running state for the first time, and a software
    // renderer compiles its shaders then: reported on its own, and a warm-up for the rest.
    report("first drawing, 4 KB at ~2,000/s", stream(h.session(), server, replyOfSize(4 * 1024), 10, 5));
    const Run paced20 = stream(h.session(), server, reply20, 10, 5);
    report("20 KB at ~2,000 pieces/s", paced20);
    if (qEnvironmentVariableIsSet("BENCH_QUICK"))
        return 0;
    const Run paced100 = stream(h.session(), server, reply100, 10, 5);
    report("100 KB at ~2,000 pieces/s", paced100);
    const double exponent = std::log((paced100.cpuMs / paced100.pieces) / (paced20.cpuMs / paced20.pieces)) /
                                std::log(double(paced100.pieces) / paced20.pieces) +
                            1.0;
    std::printf("growth exponent of main-thread work (total vs pieces): %.2f\n", exponent);
    report("100 KB as fast as loopback sends", stream(h.session(), server, reply100, 0, 0));

    // Both cores busy, as with a build running beside the app.
    QList<QProcess *> hogs;
    for (int i = 0; i < 2; ++i) {
        auto *hog = new QProcess;
        hog->start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
        hogs << hog;
    }
    report("100 KB as fast, both cores busy", stream(h.session(), server, reply100, 0, 0));
    for (QProcess *hog : hogs) {
        hog->kill();
        hog->waitForFinished();
        delete hog;
    }

    return 0;
}

// One window, one finished 100 KB drawing streamed at the paced rate, nothing else: the memory a
// person's session holds. With `canvas`, the floor under it: a bare window holding only the canvas
// view, fed the same drawing at the same pace.
// What the newest window added, from before (the PSS before it opened) to after draw() has drawn in
// it, printed; returns the PSS after.
double addedWindow(const char *kind, int n, double before, const std::function<void()> &draw)
{
    QTest::qWait(1000);
    const double empty = pssMiB();
    draw();
    QTest::qWait(2000);
    const double drawn = pssMiB(true);
    std::printf(
        "%s %d: PSS %.0f MiB before its drawing (+%.0f), %.0f MiB after (+%.0f MiB for the window and "
        "its drawing)\n",
        kind, n, empty, empty - before, drawn, drawn - before);
    std::fflush(stdout);
    return drawn;
}

// A bare window holding only the canvas view, its page loaded.
QObject *bareCanvasWindow(QQmlApplicationEngine &engine, CanvasController &controller)
{
    engine.loadData("import QtQuick\nimport Dravlin\n"
                    "Window { visible: true; width: 1180; height: 760\n"
                    "  CanvasWebView { objectName: \"canvas\"; anchors.fill: parent } }\n");
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(engine.rootObjects().size() - 1));
    QObject *view = window ? window->findChild<QObject *>(QStringLiteral("canvas")) : nullptr;
    if (!view)
        return nullptr;
    view->setProperty("controller", QVariant::fromValue(&controller));
    while (!pageLoaded(view))
        QTest::qWait(20);
    return view;
}

// The floor under `memory windows`: what a second and a third bare canvas window add, each given
// the same drawing all at once.
int benchBareWindows()
{
    const QString reply = replyOfSize(100 * 1024);
    const qsizetype open = reply.indexOf(QLatin1String("<svg"));
    const qsizetype close = reply.lastIndexOf(QLatin1String("</svg>")) + 6;
    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    std::vector<std::unique_ptr<CanvasController>> controllers;
    double before = 0;
    for (int n = 1; n <= 3; ++n) {
        controllers.push_back(std::make_unique<CanvasController>());
        CanvasController &controller = *controllers.back();
        if (!bareCanvasWindow(engine, controller))
            return 1;
        before = addedWindow("bare window", n, before, [&] {
            controller.resetCanvas();
            for (qsizetype at = 0; at < reply.size(); at += 4)
                controller.applyDelta(reply.mid(at, 4));
            controller.finish(reply.mid(open, close - open));
        });
    }
    return 0;
}

int benchMemory(bool app)
{
    const QString reply = replyOfSize(100 * 1024);
    if (app) {
        WindowHarness h;
        ServerThread server;
        if (!openWindow(h, server))
            return 1;
        QTest::qWait(1000);
        std::printf("PSS before drawing: %.0f MiB\n", pssMiB(true));
        report("100 KB at ~2,000 pieces/s", stream(h.session(), server, reply, 10, 5));
        QTest::qWait(2000);
        std::printf("PSS with the app's window after one finished drawing: %.0f MiB\n", pssMiB(true));
        return 0;
    }

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    CanvasController controller;
    if (!bareCanvasWindow(engine, controller))
        return 1;
    QTest::qWait(1000);
    std::printf("PSS before drawing: %.0f MiB\n", pssMiB(true));
    controller.resetCanvas();
    qsizetype at = 0;
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pace, &QTimer::timeout, &controller, [&] {
        for (int i = 0; i < 10 && at < reply.size(); ++i, at += 4)
            controller.applyDelta(reply.mid(at, 4));
    });
    pace.start(5);
    while (at < reply.size())
        QTest::qWait(20);
    pace.stop();
    const qsizetype open = reply.indexOf(QLatin1String("<svg"));
    const qsizetype close = reply.lastIndexOf(QLatin1String("</svg>")) + 6;
    controller.finish(reply.mid(open, close - open));
    QTest::qWait(2000);
    std::printf("PSS with a bare canvas window after the same drawing: %.0f MiB\n", pssMiB(true));
    return 0;
}

// One launch, timed from process start. The app's window reports its first usable frame (the
// first frame showing the prompt field focused, with a key sent at that moment landing in it) and
// the frame in which its canvas page has loaded; the bare window, holding only one WebEngineView
// on the canvas page, reports its first frame and the frame in which that page has loaded.
// The app's window, then a second and a third, each with one finished 100 KB drawing: what each
// added window costs. With `drawings`, 50 drawings in one window instead: whether it grows.
int benchMemoryGrowth(bool windows)
{
    const QString reply = replyOfSize(100 * 1024);
    WindowHarness h;
    ServerThread server;
    if (!openWindow(h, server))
        return 1;
    QTest::qWait(1000);
    std::printf("PSS with one window, before drawing: %.0f MiB\n", pssMiB());
    report("100 KB as fast as loopback sends", stream(h.session(), server, reply, 0, 0));
    QTest::qWait(2000);
    const double first = pssMiB(true);
    std::printf("PSS after the first drawing: %.0f MiB\n", first);
    std::fflush(stdout);
    if (windows) {
        double before = first;
        for (int n = 2; n <= 3; ++n) {
            h.engine.setInitialProperties(
                {{QStringLiteral("content"), QVariant::fromValue(new ContentController(&h.engine))}});
            h.engine.load(QUrl(QStringLiteral("qrc:/Dravlin/ui/Main.qml")));
            auto *window = qobject_cast<QQuickWindow *>(h.engine.rootObjects().constLast());
            ContentController *content = contentOf(window);
            if (!content)
                return 1;
            content->session()->client()->setBase(server.url());
            while (!canvasLoaded(window))
                QTest::qWait(20);
            QSignalSpy refreshed(content->session()->catalog(), &ModelCatalog::modelsRefreshed);
            content->session()->catalog()->refreshModels();
            refreshed.wait(10000);
            content->session()->catalog()->setSelectedModel(QStringLiteral("bench:1b"));
            before = addedWindow("window", n, before, [&] {
                report("100 KB as fast as loopback sends", stream(content->session(), server, reply, 0, 0));
            });
        }
        return 0;
    }
    for (int i = 2; i <= 50; ++i) {
        const Run run = stream(h.session(), server, reply, 0, 0);
        if (i % 10 == 0) {
            QTest::qWait(2000);
            const double now = pssMiB(i == 10 || i == 50);
            std::printf("after %d drawings: PSS %.0f MiB (%+.1f%% of the first's)\n", i, now,
                        (now - first) / first * 100);
            std::fflush(stdout);
        }
        Q_UNUSED(run);
    }
    return 0;
}

int benchStartup(bool app)
{
    std::unique_ptr<ServerThread> server;
    if (app) {
        // The model list comes from a server that answers at once, as a running Ollama does.
        server = std::make_unique<ServerThread>();
        server->route("GET", "/api/tags", FakeResponse::json(200, R"({"models":[{"name":"bench:1b"}]})"));
        qputenv("DRAVLIN_OLLAMA_URL", server->url().toEncoded());
    }
    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    if (app) {
        engine.setInitialProperties(
            {{QStringLiteral("content"), QVariant::fromValue(new ContentController(&engine))}});
        engine.load(QUrl(QStringLiteral("qrc:/Dravlin/ui/Main.qml")));
    } else {
        const QByteArray qml = "import QtQuick\nimport QtWebEngine\n"
                               "Window { visible: true; width: 1180; height: 760\n"
                               "  WebEngineView { objectName: \"canvas\"; anchors.fill: parent; url: \"" +
                               CanvasController::pageUrl().toString().toUtf8() + "\" } }\n";
        engine.loadData(qml);
    }
    const bool trace = qEnvironmentVariableIsSet("BENCH_TRACE");
    if (trace)
        std::printf("window made at %.0f ms\n", msSinceProcessStart());
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return 1;
    QQuickItem *prompt = app ? window->findChild<QQuickItem *>(QStringLiteral("prompt")) : nullptr;
    if (app && trace) {
        QObject::connect(contentOf(window), &ContentController::modelsKnownChanged, window,
                         [] { std::printf("models known at %.0f ms\n", msSinceProcessStart()); });
        auto *poll = new QTimer(window);
        QObject::connect(poll, &QTimer::timeout, window, [window, poll] {
            if (window->findChild<QObject *>(QStringLiteral("canvas"))) {
                std::printf("canvas view made by %.0f ms\n", msSinceProcessStart());
                poll->stop();
            }
        });
        poll->start(5);
    }
    if (app && !prompt)
        return 1;

    double firstFrame = -1, usable = -1, ready = -1;
    auto finishIfDone = [&] {
        if ((app ? usable : firstFrame) < 0 || ready < 0)
            return;
        std::printf("%s %.0f ms, canvas ready %.0f ms, PSS %.0f MiB\n",
                    app ? "first usable frame" : "first frame", app ? usable : firstFrame, ready,
                    pssMiB(trace));
        std::fflush(stdout);
        QCoreApplication::exit(0);
    };
    // A frame's time is when it was swapped; what it shows is read while the scene is synchronised
    // (the main thread waits then). Both signals may come from the render thread: the frame's
    // facts are kept in atomics and judged on the main thread afterwards.
    std::atomic<bool> syncedPrompt = false;
    std::atomic<double> firstSwappedAt = -1, swappedAt = -1, promptSwappedAt = -1;
    QObject::connect(
        window, &QQuickWindow::afterSynchronizing, window,
        [&] {
            syncedPrompt = prompt && prompt->isVisible() && prompt->hasActiveFocus();
            if (trace && prompt)
                std::printf("sync at %.0f ms: prompt %s, %s, window %s\n", msSinceProcessStart(),
                            prompt->isVisible() ? "visible" : "hidden",
                            prompt->hasActiveFocus() ? "focused" : "unfocused",
                            window->isActive() ? "active" : "inactive");
        },
        Qt::DirectConnection);
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [&] {
            const double ms = msSinceProcessStart();
            swappedAt = ms;
            if (firstSwappedAt < 0)
                firstSwappedAt = ms;
            if (syncedPrompt && promptSwappedAt < 0)
                promptSwappedAt = ms;
            if (trace)
                std::printf("swap at %.0f ms, prompt %s\n", ms, syncedPrompt ? "shown" : "not shown");
            QMetaObject::invokeMethod(window, [&] {
                if (firstFrame < 0) {
                    firstFrame = firstSwappedAt;
                    if (trace)
                        std::printf("first frame at %.0f ms (seen at %.0f ms)\n", firstFrame,
                                    msSinceProcessStart());
                }
                if (app && usable < 0 && promptSwappedAt >= 0) {
                    // A key sent now lands in the field. (Under Xvfb a synthesised key can arrive
                    // twice, through the input context as well.)
                    QTest::keyClick(window, 'x');
                    if (prompt->property("text").toString().startsWith(QLatin1Char('x')))
                        usable = promptSwappedAt;
                    else
                        promptSwappedAt = -1;
                    if (trace)
                        std::printf("prompt shown at %.0f ms, a key %s\n", double(promptSwappedAt),
                                    usable >= 0 ? "landed in it" : "went elsewhere");
                }
                QObject *canvas = window->findChild<QObject *>(QStringLiteral("canvas"));
                if (ready < 0 && canvas && pageLoaded(canvas)) {
                    ready = swappedAt;
                    if (trace)
                        std::printf("canvas ready at %.0f ms\n", ready);
                }
                finishIfDone();
            });
        },
        Qt::DirectConnection);
    return QGuiApplication::exec();
}

// Launches `runs` pairs of start-ups, the app's and the bare window's alternately, and reports the
// medians and their ratios.
int benchStartupCompare(int runs)
{
    auto launch = [](const char *mode) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("startup"), QLatin1String(mode)});
        child.waitForFinished(60000);
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        static const QRegularExpression numbers(
            QStringLiteral("frame (\\d+) ms, canvas ready (\\d+) ms, PSS (\\d+)"));
        const QRegularExpressionMatch m = numbers.match(out);
        return m.hasMatch() ? QList<double>{m.captured(1).toDouble(), m.captured(2).toDouble(),
                                            m.captured(3).toDouble()}
                            : QList<double>{};
    };
    auto median = [](QList<double> v) {
        std::sort(v.begin(), v.end());
        return v.isEmpty() ? 0.0 : v.at(v.size() / 2);
    };
    launch("app"); // warms the shader caches; not counted
    launch("minimal");
    QList<double> appFrame, appReady, appPss, bareFrame, bareReady, barePss;
    for (int i = 0; i < runs; ++i) {
        const QList<double> a = launch("app");
        const QList<double> b = launch("minimal");
        if (a.size() != 3 || b.size() != 3)
            return 1;
        appFrame << a[0], appReady << a[1], appPss << a[2];
        bareFrame << b[0], bareReady << b[1], barePss << b[2];
        std::printf("run %d: app usable %4.0f ready %4.0f | bare first frame %4.0f ready %4.0f\n", i + 1,
                    a[0], a[1], b[0], b[1]);
        std::fflush(stdout);
    }
    std::printf(
        "medians of %d: first usable frame %.0f ms vs bare first frame %.0f ms = %.2fx (goal <= 0.80)\n",
        runs, median(appFrame), median(bareFrame), median(appFrame) / median(bareFrame));
    std::printf("            canvas ready %.0f ms vs bare page loaded %.0f ms = %.2fx (goal <= 1.15)\n",
                median(appReady), median(bareReady), median(appReady) / median(bareReady));
    std::printf("            PSS at canvas ready: app %.0f MiB, bare %.0f MiB\n", median(appPss),
                median(barePss));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    msSinceProcessStart();
    // A fresh home would make every launch compile the renderer's shaders afresh (Qt's program
    // cache and Mesa's), which a person's second launch never does: the start-up runs share one
    // home of their own (the first run after a build warms it and is not the one to report).
    if (argc > 1 && qstrcmp(argv[1], "startup") == 0) {
        const QByteArray home = QDir::temp().filePath(QStringLiteral("dravlin-bench-home")).toUtf8();
        QDir().mkpath(QString::fromUtf8(home));
        qputenv("HOME", home);
        for (const char *xdg : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            qunsetenv(xdg);
        if (!qEnvironmentVariableIsSet("MESA_SHADER_CACHE_DIR"))
            qputenv("MESA_SHADER_CACHE_DIR", home + "/mesa-shader-cache");
        QStandardPaths::setTestModeEnabled(true);
    } else {
        isolateTestEnvironment();
    }
    CanvasController::prepareEngine();
    QtWebEngineQuick::initialize();
    QGuiApplication application(argc, argv);
    if (qEnvironmentVariableIsSet("BENCH_TRACE"))
        std::printf("application at %.0f ms; ", msSinceProcessStart());
    const QStringList args = application.arguments();
    if (args.value(1) == QLatin1String("memory") && args.value(2) == QLatin1String("windows") &&
        args.value(3) == QLatin1String("canvas"))
        return benchBareWindows();
    if (args.value(1) == QLatin1String("memory") &&
        (args.value(2) == QLatin1String("windows") || args.value(2) == QLatin1String("drawings")))
        return benchMemoryGrowth(args.value(2) == QLatin1String("windows"));
    if (args.value(1) == QLatin1String("memory"))
        return benchMemory(args.value(2) != QLatin1String("canvas"));
    if (args.value(1) == QLatin1String("startup") && args.value(2) == QLatin1String("compare"))
        return benchStartupCompare(args.value(3, QStringLiteral("10")).toInt());
    if (args.value(1) == QLatin1String("startup"))
        return benchStartup(args.value(2) != QLatin1String("minimal"));
    return benchStream();
}
