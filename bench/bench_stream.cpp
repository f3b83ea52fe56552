// Figures for the drawing spine: how fast streamed pieces travel from the local server through the
// chat stream and the session to the canvas commands, whether the cost stays linear in the reply,
// and how long cutting the drawing out of a hostile reply takes.
#include "recordingview.h"
#include "session/svgextract.h"
#include "sessionharness.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTextStream>

#include <cmath>
#include <cstdio>

namespace {

// A realistic local-server line around one small piece of text (one token per line, as sent).
QByteArray lineFor(const QString &piece)
{
    QByteArray escaped = piece.toUtf8();
    escaped.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return R"({"model":"qwen3:4b","created_at":"2025-06-20T14:35:16.953867442Z","message":{"role":"assistant","content":")" +
           escaped + R"("},"done":false})" + '\n';
}

// The body in network-sized chunks, so the client sees many reads, each cutting lines anywhere.
FakeResponse replyOf(const QList<QString> &pieces)
{
    QByteArray body;
    for (const QString &piece : pieces)
        body += lineFor(piece);
    body += chatDone();
    FakeResponse response;
    constexpr qsizetype chunk = 16 * 1024 + 7;
    for (qsizetype at = 0; at < body.size(); at += chunk)
        response.write(body.mid(at, chunk));
    return response;
}

QList<QString> narrationPieces(int count)
{
    static const QStringList words{"the",  " pel", "ican", "'s",    " beak", " hook", "s",   " down", " —",
                                   " yes", ",",    " add", " spok", "es",    "?",     " ok", ".",     "\n"};
    QList<QString> pieces;
    pieces.reserve(count);
    for (int i = 0; i < count; ++i)
        pieces.append(words[i % words.size()]);
    return pieces;
}

// Pieces of about four characters of a drawing of roughly the given size.
QList<QString> svgPieces(qsizetype bytes)
{
    QString svg = QStringLiteral(
        "Plan: sky, hills, sun.\n```svg\n<svg viewBox=\"0 0 400 300\" xmlns=\"http://www.w3.org/2000/svg\">"
        "<defs><linearGradient id=\"sky\"><stop offset=\"0\" stop-color=\"#8cf\"/></linearGradient></defs>");
    int i = 0;
    while (svg.size() < bytes) {
        svg += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"#%4\" opacity=\"0.8\"/>")
                   .arg(i % 400)
                   .arg((i * 7) % 300)
                   .arg(3 + i % 20)
                   .arg(QString::number(0x102030 + i * 97, 16).right(6));
        ++i;
    }
    svg += QStringLiteral("</svg>\n```\nDone.");
    QList<QString> pieces;
    for (qsizetype at = 0; at < svg.size(); at += 4)
        pieces.append(svg.mid(at, 4));
    return pieces;
}

struct RunFigures
{
    double seconds = 0;
    qint64 commands = 0;
    bool ok = false;
};

RunFigures timeRun(const QList<QString> &pieces)
{
    SessionHarness h;
    h.view.keepScripts = false;
    h.server.route("POST", "/api/chat", replyOf(pieces));
    QElapsedTimer timer;
    timer.start();
    RunFigures figures;
    figures.ok = h.draw(QStringLiteral("a pelican"));
    figures.seconds = double(timer.nsecsElapsed()) / 1e9;
    figures.commands = h.view.count;
    return figures;
}

} // namespace

int main(int argc, char *argv[])
{
    isolateTestEnvironment();
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    out << "Local reply through the chat stream into the session and canvas commands\n";
    timeRun(narrationPieces(2000)); // warm up the network stack
    RunFigures small;
    RunFigures large;
    for (int round = 0; round < 3; ++round) {
        const RunFigures s = timeRun(narrationPieces(10000));
        const RunFigures l = timeRun(narrationPieces(100000));
        if (round == 0 || s.seconds < small.seconds)
            small = s;
        if (round == 0 || l.seconds < large.seconds)
            large = l;
    }
    out << QString::asprintf("  10,000 lines: %.3f s (%lld canvas commands)%s\n", small.seconds,
                             small.commands, small.ok ? "" : " FAILED");
    out << QString::asprintf("  100,000 lines: %.3f s (%lld canvas commands)%s\n", large.seconds,
                             large.commands, large.ok ? "" : " FAILED");
    out << QString::asprintf("  pieces per second: %.0f\n", 100000 / large.seconds);
    out << QString::asprintf("  time ratio 100,000 / 10,000: %.2f (linear is 10)\n",
                             large.seconds / small.seconds);

    out << "Whole local run of a drawing\n";
    const QList<QString> drawing = svgPieces(100 * 1024);
    RunFigures run = timeRun(drawing);
    for (int round = 0; round < 2; ++round) {
        const RunFigures again = timeRun(drawing);
        if (again.seconds < run.seconds)
            run = again;
    }
    out << QString::asprintf("  100 KB SVG in %lld pieces: %.3f s end to end (%.0f pieces/s)%s\n",
                             qint64(drawing.size()), run.seconds, drawing.size() / run.seconds,
                             run.ok ? "" : " FAILED");

    out << "Cutting the drawing out of a hostile reply\n";
    for (const qsizetype size : {qsizetype(100 * 1024), qsizetype(1024 * 1024)}) {
        const QString repeated = QStringLiteral("<svg").repeated(size / 4);
        QElapsedTimer timer;
        timer.start();
        const auto result = SvgExtract::localRun(repeated, repeated);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        out << QString::asprintf("  %lld KB of \"<svg\" with no close: %.2f ms (result of %lld characters)\n",
                                 qint64(size / 1024), ms, qint64(result ? result->size() : 0));
    }
    out.flush();
    return 0;
}
