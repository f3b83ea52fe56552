// Adds drawings to a history file until it is killed, saying each one's number once it is kept:
// the durability test kills it at a moment of its own choosing, most likely mid-write.
// historywriter FILE TAG: the drawings are prompted "TAG N".
#include "history/historystore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    HistoryStore store(QString::fromLocal8Bit(argv[1]));
    if (!store.isOn())
        return 1;
    for (qint64 n = 1;; ++n) {
        HistoryEntry entry;
        entry.prompt = QString::fromLocal8Bit(argv[2]) + ' ' + QString::number(n);
        entry.model = QStringLiteral("gemma3:4b");
        entry.svg = QStringLiteral("<svg>%1</svg>").arg(entry.prompt.repeated(400));
        entry.durationMs = n;
        // Large enough that the details' write takes as long as the drawing's.
        entry.thumbnail = QByteArray(256 * 1024, char(n));
        if (!store.add(entry))
            return 3;
        std::printf("%lld\n", static_cast<long long>(n));
        std::fflush(stdout);
    }
}
