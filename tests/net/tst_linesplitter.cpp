#include "net/linesplitter.h"

#include <QTest>

namespace {

// Feeds the chunks in order, then the end of the body, and returns every line handed out; ok tells
// whether the splitter went on to the end.
QList<QByteArray> splitAll(const QList<QByteArray> &chunks, LineSplitter &splitter, bool *ok = nullptr)
{
    QList<QByteArray> lines;
    auto collect = [&](QByteArrayView line) {
        lines.append(line.toByteArray());
        return true;
    };
    bool fine = true;
    for (const QByteArray &chunk : chunks)
        fine = fine && splitter.feed(chunk, collect);
    fine = fine && splitter.finish(collect);
    if (ok)
        *ok = fine;
    return lines;
}

} // namespace

class TestLineSplitter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every line end is accepted (LF, CR LF, CR; CR CR and LF CR are two), and the body cut anywhere
    // into two or three chunks, an empty one among them, yields the same lines: inside a multi-byte
    // UTF-8 character, between CR and LF, inside a line, at a line end.
    void splittingAnywhereGivesTheSameLines()
    {
        const QByteArray body(
            "{\"c\":\"caf\xc3\xa9 \xf0\x9f\x8e\xa8\"}\r\nplain\r\rthird\n\r\nfourth\n\rlast \xe2\x80\x94");
        const QList<QByteArray> lines =
            QByteArray("{\"c\":\"caf\xc3\xa9 \xf0\x9f\x8e\xa8\"}|plain||third||fourth||last \xe2\x80\x94")
                .split('|');
        for (qsizetype i = 0; i <= body.size(); ++i) {
            for (qsizetype j = i; j <= body.size(); ++j) {
                LineSplitter splitter;
                QCOMPARE(splitAll({body.left(i), body.mid(i, j - i), body.mid(j)}, splitter), lines);
            }
        }
        LineSplitter empty;
        QCOMPARE(splitAll({QByteArray(), QByteArray()}, empty), QList<QByteArray>{});
        // The reader may stop it: no line after the one it refused.
        LineSplitter stopped;
        QList<QByteArray> seen;
        QVERIFY(!stopped.feed("a\nb\n",
                              [&](QByteArrayView line) { return seen.append(line.toByteArray()), false; }));
        QCOMPARE(seen, QList<QByteArray>{"a"});
    }

    // A line longer than the cap ends the stream however it arrives; one exactly at the cap passes.
    void theLineCapStopsTheStream_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<bool>("overflows");
        QTest::newRow("in one chunk") << QList<QByteArray>{"ok\n" + QByteArray(11, 'x') + "\nmore\n"} << true;
        QTest::newRow("grown over chunks")
            << QList<QByteArray>{"ok\nxxxx", "xxxx", "xxx", "\nmore\n"} << true;
        QTest::newRow("never terminated")
            << QList<QByteArray>{"ok\n", QByteArray(6, 'x'), QByteArray(6, 'x')} << true;
        QTest::newRow("exactly at the cap") << QList<QByteArray>{"ok\n01234", "56789\n"} << false;
    }
    void theLineCapStopsTheStream()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(bool, overflows);
        LineSplitter splitter(10);
        bool ok = false;
        const QList<QByteArray> lines = splitAll(chunks, splitter, &ok);
        QCOMPARE(ok, !overflows);
        QCOMPARE(splitter.overflowed(), overflows);
        QCOMPARE(lines, (overflows ? QList<QByteArray>{"ok"} : QList<QByteArray>{"ok", "0123456789"}));
        // Nothing more comes out once it has overflowed.
        QCOMPARE(splitter.feed("later\n", [](QByteArrayView) { return true; }), !overflows);
    }
};

QTEST_GUILESS_MAIN(TestLineSplitter)
#include "tst_linesplitter.moc"
