// The local server's model listing: a list or an error, never both and never a crash; a list is
// ordered tool-capable first, then by name, and its dates are valid or invalid, never garbage.
#include "fuzzcheck.h"
#include "models/ollamaclient.h"

#include <QCollator>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto decoded = ListModelsJob::decode(body);
    if (const auto *models = std::get_if<QList<OllamaModel>>(&decoded)) {
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        for (qsizetype i = 1; i < models->size(); ++i) {
            const OllamaModel &a = models->at(i - 1);
            const OllamaModel &b = models->at(i);
            FUZZ_CHECK(a.tools > b.tools || (a.tools == b.tools && collator.compare(a.name, b.name) <= 0));
        }
    } else {
        const OllamaError &error = std::get<OllamaError>(decoded);
        FUZZ_CHECK(!error.description().isEmpty());
    }
    ListModelsJob::parseDate(QString::fromUtf8(body.left(64)));
    return 0;
}
