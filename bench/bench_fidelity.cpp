// How faithful the canvas is: each drawing in bench/drawings is streamed through the real page in
// small pieces as a model's reply, finished, and compared pixel by pixel with the same SVG given
// to the same engine as it is. Animated drawings are compared standing still at their beginning
// (SMIL paused at time 0, CSS animations paused at their start), on both sides.
//
//   bench_fidelity                     prints one line per drawing and the share drawn identically
//   bench_fidelity --screenshots DIR   also saves each pair of renderings that differ in DIR
#include "pageharness.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QRandomGenerator>
#include <QTextStream>

namespace {

const QString kDrawingsDir = QStringLiteral(DRAVLIN_BENCH_DRAWINGS);

// Stops every animation of the drawing in shadow root `holder` at its beginning.
const QString kFreeze = QStringLiteral(R"JS(((holder) => {
    const root = holder.querySelector('svg');
    if (root) {
        root.pauseAnimations();
        root.setCurrentTime(0);
    }
    for (const animation of holder.getAnimations()) {
        animation.pause();
        animation.currentTime = 0;
    }
    return true;
})(%1))JS");

const QString kStage = QStringLiteral("document.getElementById('stage').shadowRoot");

// The raw SVG in the same engine: a host laid out as the canvas's stage, over it, with the SVG as
// its markup and the page's one rule for the root's size.
const QString kShowRaw = QStringLiteral(R"JS(((svg) => {
    const host = document.createElement('div');
    host.id = 'raw';
    host.style.cssText = 'position: fixed; inset: 0; box-sizing: border-box; padding: 2vmin;'
        + ' background: #fff; z-index: 1';
    const shadow = host.attachShadow({ mode: 'open' });
    const sheet = new CSSStyleSheet();
    sheet.replaceSync(':host > svg { display: block; width: 100%; height: 100%; }');
    shadow.adoptedStyleSheets = [sheet];
    shadow.innerHTML = svg;
    document.body.appendChild(host);
    return true;
})(%1))JS");

QString reply(const QString &svg)
{
    return QStringLiteral("Sure! Here's the drawing:\n\n```svg\n") + svg +
           QStringLiteral("\n```\n\nLet me know if you'd like changes.");
}

void stream(PageHarness &page, const QString &text)
{
    QRandomGenerator random(7);
    for (qsizetype at = 0, size = 0; at < text.size(); at += size) {
        size = random.bounded(1, 7);
        page.controller.applyDelta(text.mid(at, size));
    }
}

// Pixels that differ between two renderings of the same size.
qsizetype differingPixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return qsizetype(a.width()) * a.height();
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    qsizetype count = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int column = 0; column < x.width(); ++column)
            count += p[column] != q[column];
    }
    return count;
}

} // namespace

int main(int argc, char *argv[])
{
    isolateTestEnvironment();
    prepareWebEngineForTests();
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList arguments = app.arguments();
    const qsizetype shots = arguments.indexOf(QStringLiteral("--screenshots"));
    const QString shotsDir = shots >= 0 && shots + 1 < arguments.size() ? arguments[shots + 1] : QString();

    PageHarness page;
    if (!page.load(500, 400)) {
        out << "The canvas page did not load.\n";
        return 1;
    }
    const QStringList files =
        QDir(kDrawingsDir).entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name);
    int identical = 0;
    int sameTree = 0;
    for (const QString &name : files) {
        QFile file(QDir(kDrawingsDir).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString svg = QString::fromUtf8(file.readAll()).trimmed();

        // Streamed and finished, then the same text built at once: the trees should match.
        page.controller.resetCanvas();
        page.controller.finish(svg);
        const QString atOnce = page.eval(QStringLiteral("window.drawingSvg()")).toString();
        page.controller.resetCanvas();
        stream(page, reply(svg));
        page.controller.finish(svg);
        const QString streamed = page.eval(QStringLiteral("window.drawingSvg()")).toString();
        const bool treesMatch = streamed == atOnce && !streamed.isEmpty();
        sameTree += treesMatch;

        // The last pieces' elements start fading in on the next frame: wait for that, then for the fades.
        if (!page.settle(2) || !page.waitUntilStill() || !page.eval(kFreeze.arg(kStage)).toBool() ||
            !page.settle(3, 300)) {
            out << name << ": the page stopped answering\n";
            return 1;
        }
        const QImage canvas = page.grab();

        page.eval(kShowRaw.arg(CanvasController::js(svg)));
        page.eval(kFreeze.arg(QStringLiteral("document.getElementById('raw').shadowRoot")));
        page.settle(3, 300);
        const QImage raw = page.grab();
        page.eval(QStringLiteral("document.getElementById('raw').remove()"));

        const qsizetype differing = differingPixels(canvas, raw);
        identical += differing == 0;
        out << QString::asprintf(
            "  %-28s %s%s\n", qPrintable(name),
            differing == 0 ? "identical" : qPrintable(QStringLiteral("%1 pixels differ").arg(differing)),
            treesMatch ? "" : ", streamed tree differs from the finished one");
        if (differing != 0 && !shotsDir.isEmpty()) {
            canvas.save(QDir(shotsDir).filePath(name + QStringLiteral(".canvas.png")));
            raw.save(QDir(shotsDir).filePath(name + QStringLiteral(".raw.png")));
        }
        out.flush();
    }
    out << QString::asprintf("Identical to the raw SVG: %d of %lld (%.0f %%); streamed tree equal to the "
                             "finished one: %d of %lld\n",
                             identical, qint64(files.size()),
                             files.isEmpty() ? 0.0 : 100.0 * identical / double(files.size()), sameTree,
                             qint64(files.size()));
    return 0;
}
