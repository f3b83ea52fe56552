// A later launch's message to the running app: whole messages of at most 64 KiB give links, each
// a valid address; anything cut short or longer gives nothing.
#include "app/singleinstance.h"
#include "fuzzcheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QList<QUrl>> urls = SingleInstance::decode(message);
    const bool whole = message.endsWith('\n') && message.size() <= SingleInstance::maxMessageBytes;
    FUZZ_CHECK(urls.has_value() == whole);
    if (urls) {
        FUZZ_CHECK(urls->size() <= message.count('\n'));
        for (const QUrl &url : *urls)
            FUZZ_CHECK(url.isValid() && !url.isEmpty());
    }
    return 0;
}
