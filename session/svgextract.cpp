#include "session/svgextract.h"

#include <algorithm>

namespace {

char16_t lowerAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
}

// needle is lower-case ASCII and starts with '<'.
qsizetype findTag(QStringView text, QStringView needle, qsizetype from)
{
    const qsizetype last = text.size() - needle.size();
    for (qsizetype i = from; i <= last; ++i) {
        if (text[i] != u'<')
            continue;
        qsizetype k = 1;
        while (k < needle.size() && lowerAscii(text[i + k].unicode()) == needle[k].unicode())
            ++k;
        if (k == needle.size())
            return i;
    }
    return -1;
}

} // namespace

qsizetype SvgExtract::findOpen(QStringView text, qsizetype from)
{
    return findTag(text, u"<svg", from);
}

std::optional<QString> SvgExtract::closed(QStringView text)
{
    const qsizetype start = findOpen(text);
    if (start < 0)
        return std::nullopt;
    constexpr QStringView close = u"</svg>";
    const qsizetype end = findTag(text, close, start + 4);
    if (end < 0)
        return std::nullopt;
    return text.mid(start, end + close.size() - start).toString();
}

std::optional<QString> SvgExtract::openEnded(QStringView text)
{
    const qsizetype start = findOpen(text);
    if (start < 0)
        return std::nullopt;
    return text.mid(start).toString();
}

std::optional<QString> SvgExtract::local(QStringView text)
{
    if (auto result = closed(text))
        return result;
    return openEnded(text);
}

namespace {

// The first fenced block holding "<svg". With lineStartOnly, fences are Markdown's: three or more
// backticks opening a line (after up to three spaces), closed by a line opening with at least as
// many. Otherwise every run of three or more backticks opens or closes a block in turn.
std::optional<QStringView> fencedBlock(QStringView text, bool lineStartOnly)
{
    qsizetype content = -1; // where the open block's content starts
    qsizetype fence = 0;    // how many backticks opened it
    auto holdsDrawing = [&](qsizetype end) {
        return SvgExtract::findOpen(text.sliced(content, end - content)) >= 0;
    };
    for (qsizetype i = 0; i < text.size();) {
        qsizetype at = i;
        while (lineStartOnly && at < text.size() && at - i < 3 && text[at] == u' ')
            ++at;
        qsizetype run = 0;
        while (at + run < text.size() && text[at + run] == u'`')
            ++run;
        if (run >= 3 && content < 0) {
            content = at + run;
            fence = run;
        } else if (run >= fence && content >= 0) {
            const qsizetype end = lineStartOnly ? i : at;
            if (holdsDrawing(end))
                return text.sliced(content, end - content);
            content = -1;
        }
        if (!lineStartOnly) {
            i = at + std::max<qsizetype>(run, 1);
            continue;
        }
        const qsizetype newline = text.indexOf(u'\n', at + run);
        if (newline < 0)
            break;
        i = newline + 1;
    }
    if (content >= 0 && holdsDrawing(text.size()))
        return text.sliced(content);
    return std::nullopt;
}

} // namespace

std::optional<QStringView> SvgExtract::fencedDrawing(QStringView text)
{
    if (const auto block = fencedBlock(text, true))
        return block;
    // Some replies put the fence mid-line ("… viewBox. ```svg <svg …>").
    return fencedBlock(text, false);
}

std::optional<QString> SvgExtract::localRun(QStringView answer, QStringView wholeReply)
{
    if (const auto block = fencedDrawing(answer))
        return local(*block);
    if (findOpen(answer) >= 0)
        return local(answer);
    return local(wholeReply);
}

std::optional<QString> SvgExtract::cloudRun(QStringView answer)
{
    if (const auto block = fencedDrawing(answer)) {
        if (auto result = closed(*block))
            return result;
    }
    return closed(answer);
}
