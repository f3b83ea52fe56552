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

bool isMarkupSpace(QChar c)
{
    return c == u' ' || c == u'\n' || c == u'\t' || c == u'\r' || c == u'\f';
}

// Whether the tag name that started before at is over there: "<svga" and "<svgfoo" are other
// elements. The end of the text may still bring the rest, so an open tag there counts.
bool tagNameEndsAt(QStringView text, qsizetype at)
{
    return at >= text.size() || isMarkupSpace(text[at]) || text[at] == u'/' || text[at] == u'>';
}

bool startsWithAt(QStringView text, qsizetype at, QStringView prefix)
{
    return text.sliced(at).startsWith(prefix);
}

// Whether the tag needle (lower-case ASCII) stands at at, in any letter case.
bool tagAt(QStringView text, qsizetype at, QStringView needle)
{
    if (text.size() - at < needle.size())
        return false;
    for (qsizetype k = 0; k < needle.size(); ++k) {
        if (lowerAscii(text[at + k].unicode()) != needle[k].unicode())
            return false;
    }
    return true;
}

// The '>' that ends the tag whose attributes start at i, passing over quoted values the way the
// canvas reads them; -1 when the text ends first.
qsizetype tagEnd(QStringView text, qsizetype i)
{
    while (i < text.size()) {
        if (text[i] == u'>')
            return i;
        if (text[i] != u'=') {
            ++i;
            continue;
        }
        ++i;
        while (i < text.size() && isMarkupSpace(text[i]))
            ++i;
        if (i < text.size() && (text[i] == u'"' || text[i] == u'\'')) {
            const qsizetype close = text.indexOf(text[i], i + 1);
            if (close < 0)
                return -1;
            i = close + 1;
        }
    }
    return -1;
}

// Just past the end of the <svg> element that starts at start: the "</svg>" that closes it, not one
// of an <svg> nested inside it (a self-closing <svg …/> opens nothing). Comments and CDATA sections
// are passed over whole, as the canvas passes over them. -1 when the element never closes.
qsizetype svgElementEnd(QStringView text, qsizetype start)
{
    constexpr QStringView close = u"</svg>";
    int open = 0;
    for (qsizetype i = start; i < text.size();) {
        if (text[i] != u'<') {
            ++i;
        } else if (startsWithAt(text, i, u"<!--")) {
            const qsizetype end = text.indexOf(u"-->", i + 4);
            if (end < 0)
                return -1;
            i = end + 3;
        } else if (startsWithAt(text, i, u"<![CDATA[")) {
            const qsizetype end = text.indexOf(u"]]>", i + 9);
            if (end < 0)
                return -1;
            i = end + 3;
        } else if (tagAt(text, i, close)) {
            i += close.size();
            if (--open == 0)
                return i;
        } else if (tagAt(text, i, u"<svg") && tagNameEndsAt(text, i + 4)) {
            const qsizetype end = tagEnd(text, i + 4);
            if (end < 0)
                return -1;
            if (text[end - 1] != u'/')
                ++open;
            else if (open == 0)
                return -1; // an empty <svg …/> on its own is no finished drawing
            i = end + 1;
        } else {
            ++i;
        }
    }
    return -1;
}

} // namespace

qsizetype SvgExtract::findOpen(QStringView text, qsizetype from)
{
    for (qsizetype at = findTag(text, u"<svg", from); at >= 0; at = findTag(text, u"<svg", at + 1)) {
        if (tagNameEndsAt(text, at + 4))
            return at;
    }
    return -1;
}

std::optional<QString> SvgExtract::closed(QStringView text)
{
    const qsizetype start = findOpen(text);
    if (start < 0)
        return std::nullopt;
    const qsizetype end = svgElementEnd(text, start);
    if (end < 0)
        return std::nullopt;
    return text.mid(start, end - start).toString();
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

QString SvgExtract::prose(QStringView answer)
{
    qsizetype end = answer.indexOf(u"```");
    if (end < 0)
        end = answer.size();
    const qsizetype svg = answer.left(end).indexOf(u"<svg");
    if (svg >= 0)
        end = svg;
    return answer.left(end).trimmed().toString();
}
