// The service's streamed generation, line by line as the splitter hands them over, read the way a run
// reads it. The first byte picks the answer's status. Whatever arrives: events come only before the
// end and the stream ends once; a refusal says only its status; a page address handed on is http or
// https; the answer kept never outgrows what was sent; and what a finished run draws is the service's
// own cut or a closed drawing from the answer.
#include "account/generationstream.h"
#include "fuzzcheck.h"
#include "session/svgextract.h"

#include <cstdint>

namespace {
struct Driven : GenerationStream
{
    Driven() : GenerationStream(nullptr, nullptr) {}
    using GenerationStream::handleLine;
    using GenerationStream::handleResponseStart;
    using GenerationStream::onBodyEnded;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray body(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const int status = data[0] % 4 == 0 ? 400 + data[0] % 200 : 200;
    Driven stream;
    int ends = 0;
    QString answer;
    QObject::connect(&stream, &GenerationStream::eventReceived, [&](const QJsonObject &json) {
        FUZZ_CHECK(ends == 0);
        const GenerationEvent event = GenerationEvent::from(json);
        if (event.published && !event.published->isEmpty()) {
            FUZZ_CHECK(event.published->isValid());
            FUZZ_CHECK(event.published->scheme() == QLatin1String("http") ||
                       event.published->scheme() == QLatin1String("https"));
        }
        if (event.answer)
            answer += *event.answer;
        FUZZ_CHECK(answer.size() <= body.size());
        if (!event.done)
            return;
        if (event.svg)
            return;
        if (const std::optional<QString> drawing = SvgExtract::cloudRun(answer)) {
            FUZZ_CHECK(answer.contains(*drawing));
            FUZZ_CHECK(SvgExtract::findOpen(*drawing) == 0);
            FUZZ_CHECK(drawing->endsWith(QLatin1String("</svg>"), Qt::CaseInsensitive));
        }
    });
    QObject::connect(&stream, &GenerationStream::finished, [&](const std::optional<QString> &error) {
        ++ends;
        if (status != 200)
            FUZZ_CHECK(error && error->contains(QString::number(status)) && error->size() < 100);
        else
            FUZZ_CHECK(!error);
    });

    if (stream.handleResponseStart(status)) {
        for (qsizetype at = 0; at <= body.size();) {
            qsizetype end = body.indexOf('\n', at);
            if (end < 0)
                end = body.size();
            FUZZ_CHECK(stream.handleLine(QByteArrayView(body).sliced(at, end - at)));
            at = end + 1;
        }
        stream.onBodyEnded();
    }
    FUZZ_CHECK(ends == 1);
    return 0;
}
