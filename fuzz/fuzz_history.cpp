// The history file as it may be found on disk: whole, damaged anywhere, or not a database at all.
// A store that turns history off has left the file byte for byte as it was; one that stays on
// answers its queries and takes a new drawing.
#include "fuzzcheck.h"
#include "history/historystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

namespace {
QTemporaryDir *folder = nullptr;
QByteArray *healthy = nullptr;

QString pathOf(const char *name)
{
    return folder->filePath(QString::fromLatin1(name));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

HistoryEntry drawing(int n)
{
    HistoryEntry entry;
    entry.createdAt = QDateTime::fromSecsSinceEpoch(1700000000 + n);
    entry.prompt = QStringLiteral("a fox %1").arg(n);
    entry.mode = QStringLiteral("draw");
    entry.model = QStringLiteral("qwen3:4b");
    entry.svg = QStringLiteral("<svg viewBox=\"0 0 9 9\"><rect width=\"%1\" height=\"1\"/></svg>").arg(n);
    entry.narration = QStringLiteral("A fox.");
    return entry;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    folder = new QTemporaryDir;
    // A healthy store of three drawings, closed: what most inputs damage.
    {
        HistoryStore store(pathOf("healthy.sqlite"));
        FUZZ_CHECK(store.isOn());
        for (int n = 1; n <= 3; ++n)
            FUZZ_CHECK(store.add(drawing(n)).has_value());
    }
    healthy = new QByteArray(readAll(pathOf("healthy.sqlite")));
    FUZZ_CHECK(healthy->startsWith("SQLite format 3"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // An odd first byte: the file is the input itself. Otherwise the healthy file with patches of
    // the input written over it, each a 2-byte offset, a length and that many bytes.
    QByteArray image;
    if (data[0] & 1) {
        image = QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    } else {
        image = *healthy;
        for (size_t at = 1; at + 3 <= size;) {
            const qsizetype offset = ((qsizetype(data[at]) << 8) | data[at + 1]) % image.size();
            const qsizetype length = qMin<qsizetype>(data[at + 2], qsizetype(size - at - 3));
            for (qsizetype i = 0; i < length && offset + i < image.size(); ++i)
                image[offset + i] = char(data[at + 3 + i]);
            at += 3 + size_t(length);
        }
    }
    const QString path = pathOf("history.sqlite");
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
    }
    {
        HistoryStore store(path);
        if (!store.isOn()) {
            FUZZ_CHECK(!store.notice().isEmpty());
            FUZZ_CHECK(readAll(path) == image);
            return 0;
        }
        const QList<HistoryEntry> listed = store.page(QString(), 0, 50);
        FUZZ_CHECK(listed.size() <= 50);
        for (const HistoryEntry &entry : listed)
            store.entry(entry.id);
        store.add(drawing(4));
    }
    return 0;
}
