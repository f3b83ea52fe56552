#include "fakehttpserver.h"
#include "pageharness.h"
#include "testenvironment.h"
#include "ui/exporter.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestExport : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_WEBENGINE_TEST_INIT_MAIN

private slots:
    void aHostileDrawingLeavesAsItsSanitizedTreeOnly_data();
    void aHostileDrawingLeavesAsItsSanitizedTreeOnly();
    void aFailedWriteLeavesNothingBehindAndSaysWhy_data();
    void aFailedWriteLeavesNothingBehindAndSaysWhy();
    void fileNamesAreSlugsOfThePrompt_data();
    void fileNamesAreSlugsOfThePrompt();
};

namespace {
const char *kHostile =
    R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 50" onload="window.pwned=1">
<script>window.pwned = 2</script>
<style>@import url(REMOTE/a.css); rect { fill: red }</style>
<style>.sky { fill: #0000ff }</style>
<rect class="sky" width="100" height="50"/>
<image href="REMOTE/x.png" width="100" height="50"/>
<use href="REMOTE/s.svg#a"/>
<rect x="40" y="20" width="20" height="10" fill="url(REMOTE/p.png)"/>
</svg>)SVG";

bool run(Exporter &exporter, const std::function<void()> &action)
{
    QSignalSpy finished(&exporter, &Exporter::finished);
    action();
    return (finished.size() > 0 || finished.wait(30000)) && finished.first().first().toBool();
}
} // namespace

void TestExport::aHostileDrawingLeavesAsItsSanitizedTreeOnly_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("white");
    QTest::addColumn<QSize>("size");
    QTest::newRow("1x, transparent") << 1.0 << 0 << false << QSize(100, 50);
    QTest::newRow("2x on white") << 2.0 << 0 << true << QSize(200, 100);
    QTest::newRow("a chosen width") << 1.0 << 300 << false << QSize(300, 150);
}

void TestExport::aHostileDrawingLeavesAsItsSanitizedTreeOnly()
{
    QFETCH(double, scale);
    QFETCH(int, width);
    QFETCH(bool, white);
    QFETCH(QSize, size);
    FakeHttpServer server;
    QString svg = QString::fromUtf8(kHostile);
    svg.replace(QLatin1String("REMOTE"), server.url().toString());
    PageHarness page;
    QVERIFY(page.load());
    page.controller.resetCanvas();
    page.controller.finish(svg);

    QTemporaryDir dir;
    Exporter exporter;
    exporter.setCanvas(&page.controller);
    const QString svgPath = dir.filePath(QStringLiteral("out.svg"));
    const QString pngPath = dir.filePath(QStringLiteral("out.png"));
    QVERIFY(run(exporter, [&] { exporter.saveSvg(QUrl::fromLocalFile(svgPath)); }));
    QVERIFY2(run(exporter, [&] { exporter.savePng(QUrl::fromLocalFile(pngPath), scale, width, white); }),
             qPrintable(exporter.message()));
    QVERIFY(page.settle(3, 200));

    QFile file(svgPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(file.readAll());
    for (const char *banned : {"script", "pwned", "onload", "image", "@import", "127.0.0.1", "href"})
        QVERIFY2(!saved.contains(QLatin1String(banned), Qt::CaseInsensitive), banned);
    QVERIFY(saved.startsWith(QLatin1String("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg")));
    QVERIFY(saved.contains(QLatin1String(".sky { fill: #0000ff }")));

    const QImage png(pngPath);
    QCOMPARE(png.size(), size);
    // The model's style sheet is applied: the sky is blue, and the refused paint leaves the
    // small rectangle unpainted.
    QCOMPARE(png.pixelColor(2, 2), QColor(Qt::blue));
    const QColor middle = png.pixelColor(size.width() / 2, size.height() / 2);
    QCOMPARE(middle.alpha(), 255);
    QCOMPARE(middle, QColor(Qt::black));

    QCOMPARE(page.eval(QStringLiteral("typeof window.pwned")).toString(), QStringLiteral("undefined"));
    QCOMPARE(page.dialogs(), 0);
    QCOMPARE(server.requests().size(), 0);
}

void TestExport::aFailedWriteLeavesNothingBehindAndSaysWhy_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("into a read-only folder") << QStringLiteral("locked/drawing.png");
    QTest::newRow("into a folder that does not exist") << QStringLiteral("missing/drawing.png");
    QTest::newRow("over a folder") << QStringLiteral("taken");
}

void TestExport::aFailedWriteLeavesNothingBehindAndSaysWhy()
{
    QFETCH(QString, target);
    if (target.startsWith(QLatin1String("locked")) && ::geteuid() == 0)
        QSKIP("permissions do not bind the superuser");
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken")));
    QFile::setPermissions(dir.filePath(QStringLiteral("locked")), QFile::ReadOwner | QFile::ExeOwner);
    const QStringList before =
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    const std::optional<QString> error =
        Exporter::writeAtomically(dir.filePath(target), QByteArray(4096, 'x'));
    QVERIFY(error && !error->isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    QVERIFY(QDir(dir.filePath(QStringLiteral("locked"))).isEmpty());
    QVERIFY(QDir(dir.filePath(QStringLiteral("taken"))).isEmpty());
    QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestExport::fileNamesAreSlugsOfThePrompt_data()
{
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("slug");
    QTest::newRow("words and punctuation")
        << QStringLiteral("A lighthouse, at sunset!") << QStringLiteral("a-lighthouse-at-sunset");
    QTest::newRow("accents fold") << QStringLiteral("Café crème") << QStringLiteral("cafe-creme");
    QTest::newRow("nothing usable") << QStringLiteral(" ../?* ") << QStringLiteral("drawing");
    QTest::newRow("long prompts are cut, never on a hyphen")
        << QString(QStringLiteral("word ")).repeated(20)
        << QStringLiteral("word-").repeated(11) + QStringLiteral("word");
}

void TestExport::fileNamesAreSlugsOfThePrompt()
{
    QFETCH(QString, prompt);
    QFETCH(QString, slug);
    QCOMPARE(Exporter::slug(prompt), slug);
}

QTEST_MAIN(TestExport)
#include "tst_export.moc"
