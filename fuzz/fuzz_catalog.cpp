// The service's catalog document: all or nothing, the same answer every time, and what it accepts
// holds only what the document said in the types it promises.
#include "fuzzcheck.h"
#include "session/catalog.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<CatalogPayload> first = CatalogPayload::decode(json);
    const std::optional<CatalogPayload> again = CatalogPayload::decode(json);
    FUZZ_CHECK(first.has_value() == again.has_value());
    if (!first)
        return 0;
    FUZZ_CHECK(first->models == again->models && first->cloudCatalog == again->cloudCatalog &&
               first->featuredCloud == again->featuredCloud);
    for (const RecommendedModel &model : first->models) {
        // A label is a date or nothing; never text from the document.
        if (const std::optional<QString> label = model.releaseLabel())
            FUZZ_CHECK(!label->isEmpty() && label->size() <= 12);
        Catalog::familyName(model.name);
    }
    return 0;
}
