#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <utility>

// Splits a streamed HTTP body into text lines as the bytes arrive. Both of our streams (the local
// server's chat and pull replies, the service's generation events) are one JSON object per line.
//
// Accepts LF, CR LF and a lone CR as line ends; a CR that ends one chunk and an LF that starts the
// next are a single line end. Lines are handed out only when complete, so a UTF-8 character split
// across chunks is never decoded in halves. Work is proportional to each chunk: bytes are scanned
// once and only an unfinished tail is carried over. A line longer than the cap ends the stream
// instead of growing memory without bound.
class LineSplitter
{
public:
    static constexpr qsizetype DefaultMaxLineBytes = 16 * 1024 * 1024;

    explicit LineSplitter(qsizetype maxLineBytes = DefaultMaxLineBytes) : m_maxLineBytes(maxLineBytes) {}

    // Calls onLine(QByteArrayView) for every complete line in the chunk (the line end excluded).
    // onLine returns false to stop. Returns false when splitting stopped: the callback asked for it
    // or a line went over the cap (then overflowed() is true). Nothing more should be fed after that.
    template<typename OnLine> bool feed(QByteArrayView chunk, OnLine &&onLine);

    // Delivers a final line that had no line end. Call once when the body has ended.
    template<typename OnLine> bool finish(OnLine &&onLine);

    bool overflowed() const { return m_overflowed; }
    qsizetype maxLineBytes() const { return m_maxLineBytes; }

private:
    bool appendPending(QByteArrayView bytes);

    QByteArray m_pending;
    qsizetype m_maxLineBytes;
    bool m_skipLeadingLf = false;
    bool m_overflowed = false;
};

template<typename OnLine> bool LineSplitter::feed(QByteArrayView chunk, OnLine &&onLine)
{
    if (m_overflowed)
        return false;
    qsizetype start = 0;
    const qsizetype size = chunk.size();
    const char *data = chunk.data();
    if (m_skipLeadingLf && size > 0) {
        m_skipLeadingLf = false;
        if (data[0] == '\n')
            start = 1;
    }
    for (qsizetype i = start; i < size; ++i) {
        const char c = data[i];
        if (c != '\n' && c != '\r')
            continue;
        QByteArrayView piece(data + start, i - start);
        bool keepGoing;
        if (m_pending.isEmpty()) {
            if (piece.size() > m_maxLineBytes) {
                m_overflowed = true;
                return false;
            }
            keepGoing = onLine(piece);
        } else {
            if (!appendPending(piece))
                return false;
            const QByteArray line = std::exchange(m_pending, QByteArray());
            keepGoing = onLine(QByteArrayView(line));
        }
        if (c == '\r') {
            if (i + 1 < size) {
                if (data[i + 1] == '\n')
                    ++i;
            } else {
                m_skipLeadingLf = true;
            }
        }
        start = i + 1;
        if (!keepGoing)
            return false;
    }
    return appendPending(QByteArrayView(data + start, size - start));
}

template<typename OnLine> bool LineSplitter::finish(OnLine &&onLine)
{
    if (m_overflowed)
        return false;
    m_skipLeadingLf = false;
    if (m_pending.isEmpty())
        return true;
    const QByteArray line = std::exchange(m_pending, QByteArray());
    return onLine(QByteArrayView(line));
}
