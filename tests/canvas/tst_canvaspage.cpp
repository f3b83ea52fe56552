#include "pageharness.h"
#include "testenvironment.h"

#include <QTest>

class TestCanvasPage : public QObject
{
    Q_OBJECT

public:
    static void initMain()
    {
        isolateTestEnvironment();
        prepareWebEngineForTests();
    }

private slots:
    void thePageLoadsAndDefinesItsCommands()
    {
        PageHarness page;
        QVERIFY(!CanvasController::pageUrl().isEmpty());
        QVERIFY(page.load());
        QCOMPARE(page.eval(QStringLiteral("typeof window.applyDelta")).toString(), QStringLiteral("function"));
        QCOMPARE(page.eval(QStringLiteral("typeof window.resetCanvas")).toString(), QStringLiteral("function"));
        QCOMPARE(page.eval(QStringLiteral("typeof window.finishDrawing")).toString(), QStringLiteral("function"));
    }
};

QTEST_MAIN(TestCanvasPage)
#include "tst_canvaspage.moc"
