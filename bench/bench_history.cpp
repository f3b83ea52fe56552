// The history with 10,000 kept drawings: how long until the list's first screen is ready (the
// store opened, its first page read, the visible thumbnails decoded), and how long each keystroke
// of a search over prompts takes.
//
//   bench_history [entries]      default 10000; run a Release build for figures worth quoting
#include "history/historymodel.h"
#include "history/historystore.h"
#include "testenvironment.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {
const QStringList kWords{QStringLiteral("lighthouse"), QStringLiteral("fox"),      QStringLiteral("sailboat"),
                         QStringLiteral("ramen"),      QStringLiteral("sunset"),   QStringLiteral("forest"),
                         QStringLiteral("robot"),      QStringLiteral("castle"),   QStringLiteral("owl"),
                         QStringLiteral("teapot"),     QStringLiteral("mountain"), QStringLiteral("bicycle")};

QByteArray thumbnail(QRandomGenerator &random)
{
    QImage image(160, 120, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int i = 0; i < 12; ++i) {
        painter.setBrush(QColor::fromRgb(random.generate()));
        painter.drawEllipse(random.bounded(160), random.bounded(120), 10 + random.bounded(60),
                            10 + random.bounded(60));
    }
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}
} // namespace

int main(int argc, char **argv)
{
    isolateTestEnvironment();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int entries = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        QRandomGenerator random(13);
        QList<QByteArray> thumbnails;
        for (int i = 0; i < 50; ++i)
            thumbnails.append(thumbnail(random));
        HistoryStore store(path);
        const QString svg =
            QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 400 300\">") +
            QStringLiteral("<path d=\"M10 10 L390 290\" stroke=\"#333\"/>").repeated(80) +
            QStringLiteral("</svg>");
        QElapsedTimer filling;
        filling.start();
        for (int i = 0; i < entries; ++i) {
            HistoryEntry e;
            e.prompt =
                QStringLiteral("a %1 %2 by the %3 #%4")
                    .arg(kWords.at(random.bounded(kWords.size())), kWords.at(random.bounded(kWords.size())),
                         kWords.at(random.bounded(kWords.size())))
                    .arg(i);
            e.model = QStringLiteral("qwen3:4b");
            e.narration = QStringLiteral("I will draw it with a few shapes. ").repeated(20);
            e.svg = svg;
            e.durationMs = 10000 + random.bounded(50000);
            e.createdAt = QDateTime::currentDateTimeUtc().addSecs(-qint64(entries - i) * 600);
            e.thumbnail = thumbnails.at(i % thumbnails.size());
            store.add(e);
        }
        std::printf("filled %d entries in %.0f ms (%.1f MB on disk)\n", entries, double(filling.elapsed()),
                    double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) / 1e6);
    }

    // First screen: open the file, read the first page, decode what a 760-pixel-high list shows.
    QList<double> firstScreen;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        HistoryStore store(path);
        HistoryModel model;
        model.setStore(&store);
        int decoded = 0;
        for (int row = 0; row < std::min(model.rowCount(), 12); ++row) {
            const QString url = model.index(row).data(HistoryModel::ThumbnailRole).toString();
            const QImage image = QImage::fromData(
                QByteArray::fromBase64(url.mid(url.indexOf(QLatin1Char(',')) + 1).toLatin1()));
            decoded += image.isNull() ? 0 : 1;
        }
        firstScreen.append(double(timer.nsecsElapsed()) / 1e6);
        if (round == 0)
            std::printf("first screen: %d rows, %d thumbnails decoded\n", model.rowCount(), decoded);
    }
    std::printf("first screen ready: median %.1f ms, worst %.1f ms (budget 100 ms)\n", median(firstScreen),
                *std::max_element(firstScreen.begin(), firstScreen.end()));

    HistoryStore store(path);
    HistoryModel model;
    model.setStore(&store);
    QList<double> keystrokes;
    for (const QString &query : {QStringLiteral("lighthouse"), QStringLiteral("teapot by"),
                                 QStringLiteral("#9999"), QStringLiteral("zebra")}) {
        for (int length = 1; length <= query.size(); ++length) {
            QElapsedTimer timer;
            timer.start();
            model.setSearch(query.left(length));
            keystrokes.append(double(timer.nsecsElapsed()) / 1e6);
        }
        std::printf("search \"%s\": %d rows shown\n", qPrintable(query), model.rowCount());
        model.setSearch(QString());
    }
    std::printf("search per keystroke: median %.1f ms, worst %.1f ms over %lld keystrokes (budget 50 ms)\n",
                median(keystrokes), *std::max_element(keystrokes.begin(), keystrokes.end()),
                qlonglong(keystrokes.size()));
    return 0;
}
