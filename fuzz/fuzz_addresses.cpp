// Addresses from outside (a link in a reply, a service address from the settings, a release's
// version): a web address handed on is http or https and nothing else, a service address is https
// or plain http on this machine only, and "newer" is an order.
#include "account/appupdater.h"
#include "account/serviceclient.h"
#include "fuzzcheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const QUrl web = ServiceClient::webAddress(text);
    if (!web.isEmpty()) {
        FUZZ_CHECK(web.isValid());
        FUZZ_CHECK(web.scheme() == QLatin1String("http") || web.scheme() == QLatin1String("https"));
    }
    if (const std::optional<QUrl> base = ServiceClient::baseURLFrom(text)) {
        FUZZ_CHECK(base->isValid());
        FUZZ_CHECK(base->scheme() == QLatin1String("https") ||
                   (base->scheme() == QLatin1String("http") && ServiceClient::isLoopback(*base)));
    }

    // Two versions from one input, split at its first space.
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    const QString a = space < 0 ? text : text.left(space);
    const QString b = space < 0 ? QString() : text.mid(space + 1);
    FUZZ_CHECK(!AppUpdater::isNewer(a, a));
    FUZZ_CHECK(!(AppUpdater::isNewer(a, b) && AppUpdater::isNewer(b, a)));
    return 0;
}
