#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// Cutting the finished SVG out of a model's reply. Tags match in any letter case (ASCII only: the
// markup's own case folding, not Unicode's). Both searches are single forward scans, linear in the
// text, whatever the text holds.
namespace SvgExtract {

// Position of the first "<svg" at or after from, or -1.
qsizetype findOpen(QStringView text, qsizetype from = 0);

// From the first "<svg" to the nearest "</svg>" after it, both included.
std::optional<QString> closed(QStringView text);

// From the first "<svg" to the end of the text: an SVG whose closing tag never arrived.
std::optional<QString> openEnded(QStringView text);

// A local reply: the closed match, else the open-ended one.
std::optional<QString> local(QStringView text);

// A local run's result. The answer text is searched first: thinking often mentions "<svg" while
// planning, and a match starting there would wrap the real drawing in a broken outer element. Only
// an answer without any "<svg" falls back to the whole reply (thinking and answer in arrival order),
// for models that wrote their drawing while thinking.
std::optional<QString> localRun(QStringView answer, QStringView wholeReply);

} // namespace SvgExtract
