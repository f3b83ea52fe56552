#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// Cutting the finished SVG out of a model's reply. Tags match in any letter case (ASCII only: the
// markup's own case folding, not Unicode's). Both searches are single forward scans, linear in the
// text, whatever the text holds.
namespace SvgExtract {

// Position of the first <svg> start tag at or after from, or -1: "<svg" followed by white space,
// "/", ">" or the end of the text ("<svga" is another element).
qsizetype findOpen(QStringView text, qsizetype from = 0);

// From the first <svg> start tag to the "</svg>" that closes that element, both included: an <svg>
// nested inside the drawing does not end it.
std::optional<QString> closed(QStringView text);

// From the first "<svg" to the end of the text: an SVG whose closing tag never arrived.
std::optional<QString> openEnded(QStringView text);

// A local reply: the closed match, else the open-ended one.
std::optional<QString> local(QStringView text);

// The content of the first fenced code block that holds "<svg", from just after its opening
// backticks to its closing fence (or to the end of the text when it never closes). Narration often
// names the tag ("a single <svg> with a viewBox") before the fenced drawing; a search from that
// mention would wrap the drawing in a broken outer element.
std::optional<QStringView> fencedDrawing(QStringView text);

// An answer's narration as people read it: the text before its first code fence or "<svg", trimmed.
QString prose(QStringView answer);

// A local run's result. The answer text is searched first, inside its fenced drawing when it has
// one: thinking often mentions "<svg" while planning. Only an answer without any "<svg" falls back
// to the whole reply (thinking and answer in arrival order), for models that wrote their drawing
// while thinking.
std::optional<QString> localRun(QStringView answer, QStringView wholeReply);

// A cloud run's own search of its answer text: the closed match, inside the fenced drawing first.
std::optional<QString> cloudRun(QStringView answer);

} // namespace SvgExtract
