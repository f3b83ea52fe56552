#include "models/linesplitter.h"

#include <QTest>

namespace {

// Feeds the chunks in order and returns every line handed out, the final unterminated one included.
QList<QByteArray> splitAll(const QList<QByteArray> &chunks, LineSplitter &splitter, bool *ok = nullptr)
{
    QList<QByteArray> lines;
    auto collect = [&](QByteArrayView line) {
        lines.append(line.toByteArray());
        return true;
    };
    bool fine = true;
    for (const QByteArray &chunk : chunks) {
        if (!splitter.feed(chunk, collect)) {
            fine = false;
            break;
        }
    }
    if (fine)
        fine = splitter.finish(collect);
    if (ok)
        *ok = fine;
    return lines;
}

QList<QByteArray> splitAll(const QList<QByteArray> &chunks)
{
    LineSplitter splitter;
    return splitAll(chunks, splitter);
}

} // namespace

class TestLineSplitter : public QObject
{
    Q_OBJECT

private slots:
    void everyLineEndIsAccepted_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::newRow("LF") << QByteArray("a\nb\n") << QList<QByteArray>{"a", "b"};
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QList<QByteArray>{"a", "b"};
        QTest::newRow("CR only") << QByteArray("a\rb\r") << QList<QByteArray>{"a", "b"};
        QTest::newRow("mixed") << QByteArray("a\rb\r\nc\nd") << QList<QByteArray>{"a", "b", "c", "d"};
        QTest::newRow("blank lines kept")
            << QByteArray("a\n\nb\r\n\r\nc") << QList<QByteArray>{"a", "", "b", "", "c"};
        QTest::newRow("CR CR is two line ends") << QByteArray("a\r\rb") << QList<QByteArray>{"a", "", "b"};
        QTest::newRow("LF CR is two line ends") << QByteArray("a\n\rb") << QList<QByteArray>{"a", "", "b"};
        QTest::newRow("final line without newline")
            << QByteArray("a\nlast") << QList<QByteArray>{"a", "last"};
        QTest::newRow("empty body") << QByteArray() << QList<QByteArray>{};
    }
    void everyLineEndIsAccepted()
    {
        QFETCH(QByteArray, body);
        QFETCH(QList<QByteArray>, lines);
        QCOMPARE(splitAll({body}), lines);
    }

    // The same body cut at every position into two chunks, and into three, yields the same lines:
    // inside a multi-byte UTF-8 character, between CR and LF, inside a line.
    void splittingAnywhereGivesTheSameLines()
    {
        const QByteArray body = QByteArray("{\"c\":\"caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x8e\xa8\"}\r\n") +
                                "plain\rthird line\n\r\nlast \xe2\x80\x94";
        const QList<QByteArray> expected = splitAll({body});
        QCOMPARE(expected.size(), 5);
        QCOMPARE(QString::fromUtf8(expected.first()), QStringLiteral("{\"c\":\"café — 🎨\"}"));
        for (qsizetype i = 0; i <= body.size(); ++i) {
            QCOMPARE(splitAll({body.left(i), body.mid(i)}), expected);
            for (qsizetype j = i; j <= body.size(); ++j)
                QCOMPARE(splitAll({body.left(i), body.mid(i, j - i), body.mid(j)}), expected);
        }
    }

    void oneByteChunksGiveTheSameLines()
    {
        const QByteArray body("one\r\ntwo\rthree\n\nfour\r");
        QList<QByteArray> chunks;
        for (char c : body)
            chunks.append(QByteArray(1, c));
        QCOMPARE(splitAll(chunks), (QList<QByteArray>{"one", "two", "three", "", "four"}));
    }

    // A CR that ends one chunk and an LF that starts the next are one line end, not two.
    void crAtChunkEndThenLfIsOneLineEnd()
    {
        QCOMPARE(splitAll({"a\r", "\nb\r", "\n"}), (QList<QByteArray>{"a", "b"}));
        QCOMPARE(splitAll({"a\r", "", "\nb"}), (QList<QByteArray>{"a", "b"}));
        QCOMPARE(splitAll({"a\r", "b"}), (QList<QByteArray>{"a", "b"}));
    }

    void aLineOverTheCapStopsTheStream_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::newRow("in one chunk") << QList<QByteArray>{"ok\n" + QByteArray(11, 'x') + "\nmore\n"};
        QTest::newRow("grown over chunks") << QList<QByteArray>{"ok\nxxxx", "xxxx", "xxx", "\nmore\n"};
        QTest::newRow("never terminated")
            << QList<QByteArray>{"ok\n", QByteArray(6, 'x'), QByteArray(6, 'x')};
    }
    void aLineOverTheCapStopsTheStream()
    {
        QFETCH(QList<QByteArray>, chunks);
        LineSplitter splitter(10);
        bool ok = true;
        const QList<QByteArray> lines = splitAll(chunks, splitter, &ok);
        QVERIFY(!ok);
        QVERIFY(splitter.overflowed());
        QCOMPARE(lines, QList<QByteArray>{"ok"});
        // Nothing more comes out once it has overflowed.
        QVERIFY(!splitter.feed("later\n", [](QByteArrayView) { return true; }));
    }

    void aLineExactlyAtTheCapPasses()
    {
        LineSplitter splitter(10);
        bool ok = false;
        QCOMPARE(splitAll({"01234", "56789\n"}, splitter, &ok), QList<QByteArray>{"0123456789"});
        QVERIFY(ok);
    }

    void theCallbackCanStopSplitting()
    {
        LineSplitter splitter;
        QList<QByteArray> seen;
        const bool ok = splitter.feed("a\nstop\nc\n", [&](QByteArrayView line) {
            seen.append(line.toByteArray());
            return line != "stop";
        });
        QVERIFY(!ok);
        QVERIFY(!splitter.overflowed());
        QCOMPARE(seen, (QList<QByteArray>{"a", "stop"}));
    }
};

QTEST_GUILESS_MAIN(TestLineSplitter)
#include "tst_linesplitter.moc"
