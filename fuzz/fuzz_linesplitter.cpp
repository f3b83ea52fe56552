// Arbitrary bytes in arbitrary chunks: the lines handed out are exactly the lines of the whole
// body (LF, CR LF and lone CR ends, wherever the chunks split them), a line over the cap ends the
// stream instead of growing, and a reader that refuses a line is handed nothing after it.
#include "fuzzcheck.h"
#include "net/linesplitter.h"

#include <QByteArrayList>

#include <cstdint>

namespace {
// The whole body split at once, the simple way.
QByteArrayList reference(const QByteArray &body)
{
    QByteArrayList lines;
    QByteArray line;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '\r' || c == '\n') {
            lines.append(line);
            line.clear();
            if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n')
                ++i;
        } else {
            line.append(c);
        }
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte chooses the chunk sizes and, with its high bit set, the line the reader
    // refuses (its low four bits); the second byte the cap (or none).
    const unsigned seed = data[0];
    const qsizetype refused = seed & 0x80 ? qsizetype(seed & 0x0f) : -1;
    const qsizetype cap = data[1] < 128 ? qsizetype(data[1]) + 1 : LineSplitter::DefaultMaxLineBytes;
    const QByteArray body(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    LineSplitter splitter(cap);
    QByteArrayList lines;
    const auto take = [&lines, refused](QByteArrayView line) {
        lines.append(line.toByteArray());
        return lines.size() - 1 != refused;
    };
    bool going = true;
    unsigned state = seed * 2654435761u + 1;
    for (qsizetype at = 0; at < body.size() && going;) {
        state = state * 1103515245u + 12345u;
        // Empty chunks too: a read may return nothing.
        const qsizetype chunk = qsizetype((state >> 16) % 18);
        going = splitter.feed(QByteArrayView(body).sliced(at, qMin(chunk, body.size() - at)), take);
        at += chunk;
    }
    if (going)
        going = splitter.finish(take);

    const QByteArrayList whole = reference(body);
    if (refused >= 0 && refused < lines.size()) {
        FUZZ_CHECK(!going && lines.size() == refused + 1);
        for (qsizetype i = 0; i < lines.size(); ++i)
            FUZZ_CHECK(lines[i] == whole.value(i));
        return 0;
    }
    qsizetype longest = 0;
    for (const QByteArray &line : whole)
        longest = qMax(longest, line.size());
    if (longest <= cap) {
        FUZZ_CHECK(going && !splitter.overflowed());
        FUZZ_CHECK(lines == whole);
    } else {
        // Everything handed out before the long line is the body's own, in order, and none too long.
        FUZZ_CHECK(splitter.overflowed() && !going);
        FUZZ_CHECK(lines.size() <= whole.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            FUZZ_CHECK(lines[i] == whole[i] && lines[i].size() <= cap);
    }
    return 0;
}
