#include "canvas/canvascontroller.h"
#include "recordingview.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

class TestCanvasController : public QObject
{
    Q_OBJECT

private slots:
    void argumentsBecomeJsonStringLiterals_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("literal");
        QTest::newRow("a quote") << QStringLiteral("a\"b") << QStringLiteral("\"a\\\"b\"");
        QTest::newRow("a newline") << QStringLiteral("a\nb") << QStringLiteral("\"a\\nb\"");
        QTest::newRow("empty") << QString() << QStringLiteral("\"\"");
        QTest::newRow("backslash") << QStringLiteral("a\\b") << QStringLiteral("\"a\\\\b\"");
        QTest::newRow("tab and CR") << QStringLiteral("\t\r") << QStringLiteral("\"\\t\\r\"");
        QTest::newRow("non-ASCII passes through")
            << QStringLiteral("café — 🎨") << QStringLiteral("\"café — 🎨\"");
    }
    void argumentsBecomeJsonStringLiterals()
    {
        QFETCH(QString, text);
        QFETCH(QString, literal);
        QCOMPARE(CanvasController::js(text), literal);
    }

    void aQuoteBetweenTwoLettersIsSixCharacters()
    {
        QCOMPARE(CanvasController::js(QStringLiteral("a\"b")).size(), 6);
    }

    // Whatever the model writes, the argument decodes back to exactly that text: it can never end
    // the string early and become code.
    void hostileTextRoundTrips_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("script close") << QStringLiteral("</script><script>alert(1)</script>");
        QTest::newRow("string break") << QStringLiteral("\"); window.location='https://evil'; (\"");
        QTest::newRow("controls") << QString::fromUtf16(u"\u0000\u0001\u001f\u2028\u2029\u007f");
        QTest::newRow("backslash at end") << QStringLiteral("ends with \\");
        QTest::newRow("mixed") << QStringLiteral(
            "<svg viewBox=\"0 0 1 1\">\n\t<text>'\"\\ café</text></svg>");
    }
    void hostileTextRoundTrips()
    {
        QFETCH(QString, text);
        const QString literal = CanvasController::js(text);
        QVERIFY(literal.startsWith(QLatin1Char('"')) && literal.endsWith(QLatin1Char('"')));
        const QJsonDocument decoded = QJsonDocument::fromJson(QByteArray("[") + literal.toUtf8() + "]");
        QVERIFY(decoded.isArray());
        QCOMPARE(decoded.array().size(), 1);
        QCOMPARE(decoded.array().first().toString(), text);
        QVERIFY(!literal.contains(QLatin1Char('\n')));
    }

    void commandsAreExactAndInProgramOrder()
    {
        CanvasController controller;
        RecordingView view;
        controller.setWebView(&view);
        controller.resetCanvas();
        controller.applyDelta(QStringLiteral("<svg a=\"1\">"));
        controller.finish(QStringLiteral("<svg/>"));
        controller.finish(std::nullopt);
        QCOMPARE(view.scripts, (QStringList{
                                   "window.resetCanvas && window.resetCanvas()",
                                   "window.applyDelta && window.applyDelta(\"<svg a=\\\"1\\\">\")",
                                   "window.finishDrawing && window.finishDrawing(\"<svg/>\")",
                                   "window.finishDrawing && window.finishDrawing(\"\")",
                               }));
    }

    // A burst reaches the page as its first piece at once and the rest joined, one call per
    // frame; nothing is lost, reordered or sent after the drawing it belonged to was cleared.
    void piecesWithinAFrameGoOutAsOneCall()
    {
        CanvasController controller;
        RecordingView view;
        controller.setWebView(&view);
        controller.setFrameIntervalMs(1000);
        const auto delta = [](const char *text) {
            return QStringLiteral("window.applyDelta && window.applyDelta(\"%1\")").arg(QLatin1String(text));
        };

        controller.applyDelta(QStringLiteral("<svg"));
        QCOMPARE(view.scripts, QStringList{delta("<svg")});
        controller.applyDelta(QStringLiteral(" a"));
        controller.applyDelta(QStringLiteral("=\"1\">"));
        QCOMPARE(view.scripts.size(), 1);
        controller.setFrameIntervalMs(10);
        QCOMPARE(view.scripts.last(),
                 QStringLiteral("window.applyDelta && window.applyDelta(\" a=\\\"1\\\">\")"));

        controller.applyDelta(QStringLiteral("<rect/>"));
        controller.applyDelta(QStringLiteral("<circle/>"));
        QTRY_COMPARE(view.scripts.last(), delta("<circle/>"));
        QCOMPARE(view.scripts.mid(1),
                 (QStringList{view.scripts.at(1), delta("<rect/>"), delta("<circle/>")}));

        controller.setFrameIntervalMs(1000);
        controller.applyDelta(QStringLiteral("<g>"));
        controller.applyDelta(QStringLiteral("<path/>"));
        controller.finish(std::nullopt);
        QCOMPARE(view.scripts.mid(view.scripts.size() - 3),
                 (QStringList{delta("<g>"), delta("<path/>"),
                              QStringLiteral("window.finishDrawing && window.finishDrawing(\"\")")}));

        controller.applyDelta(QStringLiteral("<svg>"));
        controller.applyDelta(QStringLiteral("<rect/>"));
        controller.resetCanvas();
        controller.applyDelta(QStringLiteral("<svg>"));
        QCOMPARE(view.scripts.mid(view.scripts.size() - 3),
                 (QStringList{delta("<svg>"), QStringLiteral("window.resetCanvas && window.resetCanvas()"),
                              delta("<svg>")}));
    }

    void withoutAViewEveryCommandIsDropped()
    {
        CanvasController controller;
        controller.resetCanvas();
        controller.applyDelta(QStringLiteral("x"));
        controller.finish(QStringLiteral("<svg/>"));

        // A view that goes away is let go of: later commands are dropped, not sent to a dead object.
        auto *view = new RecordingView;
        controller.setWebView(view);
        controller.applyDelta(QStringLiteral("seen"));
        QCOMPARE(view->scripts.size(), 1);
        delete view;
        QCOMPARE(controller.webView(), nullptr);
        controller.applyDelta(QStringLiteral("dropped"));
        controller.finish(std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestCanvasController)
#include "tst_canvascontroller.moc"
