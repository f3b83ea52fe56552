// The local server's streamed replies, line by line as the splitter hands them over. The first
// byte picks the stream: a chat, or a download answered with 200 or refused. A chat hands out only
// pieces with something in them and ends once; a download's progress is always a number, and a
// refusal's message stays short however much the server sends.
#include "fuzzcheck.h"
#include "models/ollamaclient.h"

#include <cmath>
#include <cstdint>

namespace {
template<typename Stream> struct Driven : Stream
{
    Driven() : Stream(nullptr, 0, nullptr) {}
    using Stream::handleLine;
    using Stream::handleResponseStart;
    using Stream::onBodyEnded;
};

// Each line in turn until the stream stops reading, then the body's end if it has not ended.
template<typename Stream> void feed(Driven<Stream> &stream, const QByteArray &body, int &ends)
{
    for (qsizetype at = 0; at <= body.size() && ends == 0;) {
        qsizetype end = body.indexOf('\n', at);
        if (end < 0)
            end = body.size();
        if (!stream.handleLine(QByteArrayView(body).sliced(at, end - at)))
            break;
        at = end + 1;
    }
    if (ends == 0)
        stream.onBodyEnded();
    FUZZ_CHECK(ends == 1);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray body(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    int ends = 0;
    if (data[0] % 3 == 0) {
        Driven<ChatStream> chat;
        QObject::connect(&chat, &ChatStream::element, [&ends](const ChatElement &piece) {
            FUZZ_CHECK(ends == 0);
            FUZZ_CHECK((piece.content && !piece.content->isEmpty()) ||
                       (piece.thinking && !piece.thinking->isEmpty()));
        });
        QObject::connect(&chat, &ChatStream::finished, [&ends](const std::optional<OllamaError> &error) {
            ++ends;
            FUZZ_CHECK(!error || !error->description().isEmpty());
        });
        feed(chat, body, ends);
        return 0;
    }
    Driven<PullStream> pull;
    QObject::connect(&pull, &PullStream::progress, [&ends](double fraction) {
        FUZZ_CHECK(ends == 0);
        FUZZ_CHECK(std::isfinite(fraction));
    });
    QObject::connect(&pull, &PullStream::finished, [&ends](const std::optional<OllamaError> &error) {
        ++ends;
        FUZZ_CHECK(!error || (!error->description().isEmpty() && error->description().size() < 70 * 1024));
    });
    pull.handleResponseStart(data[0] % 3 == 1 ? 200 : 400 + data[0] % 200);
    feed(pull, body, ends);
    return 0;
}
