#include "session/svgextract.h"

#include <QTest>

using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalText)

class TestSvgExtract : public QObject
{
    Q_OBJECT

private slots:
    void findingTheDrawingInAReply_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptionalText>("closed");
        QTest::addColumn<OptionalText>("local");

        QTest::newRow("fenced") << QStringLiteral(
                                       "Plan.\n```svg\n<svg viewBox=\"0 0 4 3\"><rect/></svg>\n```\nDone.")
                                << OptionalText("<svg viewBox=\"0 0 4 3\"><rect/></svg>")
                                << OptionalText("<svg viewBox=\"0 0 4 3\"><rect/></svg>");
        QTest::newRow("two drawings: the first")
            << QStringLiteral("<svg id=\"1\"></svg> and <svg id=\"2\"></svg>")
            << OptionalText("<svg id=\"1\"></svg>") << OptionalText("<svg id=\"1\"></svg>");
        QTest::newRow("upper case") << QStringLiteral("x <SVG VIEWBOX=\"0 0 1 1\"><CIRCLE/></SVG> y")
                                    << OptionalText("<SVG VIEWBOX=\"0 0 1 1\"><CIRCLE/></SVG>")
                                    << OptionalText("<SVG VIEWBOX=\"0 0 1 1\"><CIRCLE/></SVG>");
        QTest::newRow("mixed case") << QStringLiteral("<sVg></SvG>") << OptionalText("<sVg></SvG>")
                                    << OptionalText("<sVg></SvG>");
        QTest::newRow("cut inside the drawing")
            << QStringLiteral("Plan\n<svg viewBox=\"0 0 1 1\"><path d=\"M0") << OptionalText()
            << OptionalText("<svg viewBox=\"0 0 1 1\"><path d=\"M0");
        QTest::newRow("nothing") << QStringLiteral("I'd rather not.") << OptionalText() << OptionalText();
        QTest::newRow("a close before the open does not count")
            << QStringLiteral("</svg> then <svg>x") << OptionalText() << OptionalText("<svg>x");
        QTest::newRow("the close must come after the open tag")
            << QStringLiteral("<svg/svg>") << OptionalText() << OptionalText("<svg/svg>");
        QTest::newRow("a name that only starts with svg is another element")
            << QStringLiteral("<svg</svg> <svga> <SVGfoo x> <svg\t>x</svg>") << OptionalText("<svg\t>x</svg>")
            << OptionalText("<svg\t>x</svg>");
        QTest::newRow("an empty self-closed root is no finished drawing")
            << QStringLiteral("<svg/>") << OptionalText() << OptionalText("<svg/>");
        QTest::newRow("a nested drawing does not end the outer one")
            << QStringLiteral("<svg><svg x=\"1\"><rect/></svg><svg a=\"/>\"/><circle/></SVG> <svg></svg>")
            << OptionalText("<svg><svg x=\"1\"><rect/></svg><svg a=\"/>\"/><circle/></SVG>")
            << OptionalText("<svg><svg x=\"1\"><rect/></svg><svg a=\"/>\"/><circle/></SVG>");
        QTest::newRow("tags in comments and CDATA do not count")
            << QStringLiteral("<svg><!-- <svg> --><style><![CDATA[</svg>]]></style></svg>")
            << OptionalText("<svg><!-- <svg> --><style><![CDATA[</svg>]]></style></svg>")
            << OptionalText("<svg><!-- <svg> --><style><![CDATA[</svg>]]></style></svg>");
        QTest::newRow("a nested drawing left open leaves the outer one open")
            << QStringLiteral("<svg><svg><rect/></svg>") << OptionalText()
            << OptionalText("<svg><svg><rect/></svg>");
        QTest::newRow("newlines inside")
            << QStringLiteral("<svg>\n\r\n</svg>\n") << OptionalText("<svg>\n\r\n</svg>")
            << OptionalText("<svg>\n\r\n</svg>");
        QTest::newRow("only an open tag at the very end")
            << QStringLiteral("text <svg") << OptionalText() << OptionalText("<svg");
        QTest::newRow("almost a tag")
            << QStringLiteral("<sv <svgx </svg") << OptionalText() << OptionalText();
        QTest::newRow("non-ASCII letters are not folded")
            << QString::fromUtf16(u"<\u017Fvg></svg>") << OptionalText() << OptionalText();
    }
    void findingTheDrawingInAReply()
    {
        QFETCH(QString, text);
        QFETCH(OptionalText, closed);
        QFETCH(OptionalText, local);
        QCOMPARE(SvgExtract::closed(text), closed);
        QCOMPARE(SvgExtract::local(text), local);
    }

    // The answer is searched first; thinking counts only when the answer has no drawing at all.
    void aLocalRunPrefersTheAnswer_data()
    {
        QTest::addColumn<QString>("thinking");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<OptionalText>("result");
        const QString drawing = QStringLiteral("<svg viewBox=\"0 0 2 2\"><circle r=\"1\"/></svg>");
        QTest::newRow("thinking mentions an open tag")
            << QStringLiteral("I'll write a single <svg> with a viewBox.")
            << QStringLiteral("```svg\n") + drawing + QStringLiteral("\n```") << OptionalText(drawing);
        QTest::newRow("thinking mentions a closed tag")
            << QStringLiteral("Maybe <svg></svg> first?") << drawing << OptionalText(drawing);
        QTest::newRow("drawing only in the thinking")
            << QStringLiteral("Here: ") + drawing << QStringLiteral("See above.") << OptionalText(drawing);
        QTest::newRow("open-ended answer beats a closed thinking one")
            << drawing << QStringLiteral("<svg><rect") << OptionalText("<svg><rect");
        QTest::newRow("thinking only, no drawing") << QStringLiteral("hmm") << QString() << OptionalText();
    }
    void aLocalRunPrefersTheAnswer()
    {
        QFETCH(QString, thinking);
        QFETCH(QString, answer);
        QFETCH(OptionalText, result);
        QCOMPARE(SvgExtract::localRun(answer, thinking + answer), result);
    }

    // Narration that names the tag before the fenced drawing must not start the result.
    void aFencedDrawingWinsOverAMentionOfTheTag_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<OptionalText>("local");
        QTest::addColumn<OptionalText>("cloud");
        const QString drawing = QStringLiteral("<svg viewBox=\"0 0 2 2\"><rect/></svg>");
        QTest::newRow("fence on its own line")
            << QStringLiteral("I'll use a single <svg> with a viewBox.\n```svg\n") + drawing +
                   QStringLiteral("\n```\nDone.")
            << OptionalText(drawing) << OptionalText(drawing);
        QTest::newRow("fence mid-line")
            << QStringLiteral("A single <svg> it is. ```svg ") + drawing + QStringLiteral("```")
            << OptionalText(drawing) << OptionalText(drawing);
        QTest::newRow("a fence named in the narration too")
            << QStringLiteral("One <svg> in a ```svg block.\n```svg\n") + drawing + QStringLiteral("\n```")
            << OptionalText(drawing) << OptionalText(drawing);
        QTest::newRow("cut off inside the fence")
            << QStringLiteral("A single <svg> it is.\n```svg\n<svg><rect") << OptionalText("<svg><rect")
            << OptionalText();
        QTest::newRow("no closing tag inside a closed fence")
            << QStringLiteral("```svg\n<svg><rect/>\n```\nThat's it.") << OptionalText("<svg><rect/>\n")
            << OptionalText();
        QTest::newRow("a fence without a drawing: searched as before")
            << QStringLiteral("Plan:\n```\nsky, sea\n```\n") + drawing << OptionalText(drawing)
            << OptionalText(drawing);
    }
    void aFencedDrawingWinsOverAMentionOfTheTag()
    {
        QFETCH(QString, answer);
        QFETCH(OptionalText, local);
        QFETCH(OptionalText, cloud);
        QCOMPARE(SvgExtract::localRun(answer, answer), local);
        QCOMPARE(SvgExtract::cloudRun(answer), cloud);
    }
};

QTEST_GUILESS_MAIN(TestSvgExtract)
#include "tst_svgextract.moc"
