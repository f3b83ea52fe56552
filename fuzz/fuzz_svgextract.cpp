// The end of a run: whatever the model wrote, what is cut out is a piece of it that starts at an
// <svg> start tag (and, for a closed drawing, ends with its closing tag), and the narration
// published stops before the first "<svg" or code fence.
#include "fuzzcheck.h"
#include "session/svgextract.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    // The first half is the answer, the whole is the reply with thinking.
    const QStringView answer = QStringView(text).left(text.size() / 2);

    if (const std::optional<QString> closed = SvgExtract::cloudRun(answer)) {
        FUZZ_CHECK(answer.contains(*closed));
        FUZZ_CHECK(SvgExtract::findOpen(*closed) == 0);
        FUZZ_CHECK(closed->endsWith(QStringLiteral("</svg>"), Qt::CaseInsensitive));
    }
    if (const std::optional<QString> local = SvgExtract::localRun(answer, text)) {
        FUZZ_CHECK(QStringView(text).contains(*local));
        FUZZ_CHECK(SvgExtract::findOpen(*local) == 0);
    }
    const QString prose = SvgExtract::prose(answer);
    FUZZ_CHECK(!prose.contains(QStringLiteral("<svg")) && !prose.contains(QStringLiteral("```")));
    FUZZ_CHECK(answer.contains(prose));
    return 0;
}
