// The service's answer about the latest release, against a running version on the input's first
// line: a release is offered only when it is newer by the version order and with an http or https
// address, what is not newer is not offered, and a failure always says why.
#include "account/appupdater.h"
#include "account/serviceclient.h"
#include "fuzzcheck.h"

#include <QJsonDocument>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    const QString running = QString::fromUtf8(newline < 0 ? input : input.left(newline));
    const QByteArray body = newline < 0 ? QByteArray() : input.mid(newline + 1);

    JsonReply reply;
    reply.received = true;
    reply.httpStatus = 200;
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isObject())
        reply.object = document.object();
    const UpdateCheck check = AppUpdater::read(reply, running);
    switch (check.outcome) {
    case UpdateCheck::Newer:
        FUZZ_CHECK(AppUpdater::isNewer(check.update.version, running));
        FUZZ_CHECK(check.update.url.isValid());
        FUZZ_CHECK(check.update.url.scheme() == QLatin1String("https") ||
                   check.update.url.scheme() == QLatin1String("http"));
        break;
    case UpdateCheck::UpToDate:
        FUZZ_CHECK(reply.object &&
                   !AppUpdater::isNewer(reply.object->value(QLatin1String("version")).toString(), running));
        break;
    case UpdateCheck::Failed:
        FUZZ_CHECK(!check.reason.isEmpty());
        break;
    }
    return 0;
}
