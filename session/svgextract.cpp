#include "session/svgextract.h"

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

std::optional<QString> SvgExtract::localRun(QStringView answer, QStringView wholeReply)
{
    if (findOpen(answer) >= 0)
        return local(answer);
    return local(wholeReply);
}
