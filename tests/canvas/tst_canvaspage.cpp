#include "accessiblecontrols.h"
#include "fakehttpserver.h"
#include "pageharness.h"
#include "recordingview.h"
#include "session/drawsession.h"
#include "session/svgextract.h"
#include "ui/exporter.h"

#include <QColor>
#include <QElapsedTimer>
#include <QQuickItem>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <signal.h>

namespace {

// The drawing as text: every node of the canvas's shadow root, "name[attr=value,…](children)",
// text nodes as JSON strings, anything outside the SVG namespace marked "!".
const QString kTree = QStringLiteral(R"JS((() => {
    const describe = (node) => {
        if (node.nodeType !== Node.ELEMENT_NODE)
            return node.nodeType === Node.TEXT_NODE ? JSON.stringify(node.data) : '!node' + node.nodeType;
        const mark = node.namespaceURI === 'http://www.w3.org/2000/svg' ? '' : '!';
        const attributes = Array.from(node.attributes, (a) => a.name + '=' + a.value).join(',');
        return mark + node.localName + '[' + attributes + '](' + Array.from(node.childNodes, describe).join(',') + ')';
    };
    return Array.from(document.getElementById('stage').shadowRoot.childNodes, describe).join(',');
})())JS");

const QString kDrawing = QStringLiteral("document.getElementById('stage').shadowRoot");

// Everything a reply could try: script, handlers, remote and local references of every kind, style
// sheets that reach out, animations that rewrite what was checked. REMOTE and PORT stand for a
// server the page must never reach.
const QString kHostile = QStringLiteral(
    R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 100" onload="window.pwned=1;alert(1)">
<script>window.pwned = 2; alert(2)</script><script type="text/javascript"><![CDATA[ window.pwned = 3; if (1 < 2) alert(3); ]]></script>
<rect width="100" height="100" fill="#fff" onclick="window.pwned=4" ONMOUSEOVER="alert(4)"/>
<a href="javascript:window.pwned=5;alert(5)"><circle id="kept" cx="50" cy="50" r="10" fill="#000"/></a><a xlink:href="javascript:alert(6)"><text x="5" y="5">link</text></a>
<image href="REMOTE/x.png" width="10" height="10"/><IMAGE xlink:href="REMOTE/x2.png" width="10" height="10"/>
<use href="REMOTE/s.svg#a"/><use xlink:href=" REMOTE/s2.svg#a"/><use href="data:image/svg+xml,%3Csvg%3E%3C/svg%3E#a"/>
<filter id="f"><feImage href="REMOTE/fe.png"/><feGaussianBlur stdDeviation="1"/></filter>
<foreignObject width="100" height="100"><iframe src="REMOTE/frame.html"></iframe><body xmlns="http://www.w3.org/1999/xhtml" onload="window.pwned=7"><img src="REMOTE/img.png" onerror="alert(7)"/></body></foreignObject>
<iframe src="REMOTE/top.html"></iframe><object data="REMOTE/o"></object><embed src="REMOTE/e"/>
<style>@import url(REMOTE/a.css); rect{fill:url(REMOTE/b.png)}</style><style>circle { fill: url( "REMOTE/c.png" ) }</style>
<style>@font-face { font-family: x; src: url(REMOTE/font.woff) } text { font-family: x }</style><style>.q { fill: u\72l(REMOTE/esc.png) }</style>
<style>:host { display: none }</style><style>html, div, #stage { display: none } .inside { fill: rgb(1, 2, 3) }</style>
<rect class="inside" style="fill:url(REMOTE/d.png)" src="REMOTE/src.png" x="80" y="80" width="10" height="10"/>
<rect fill="url(REMOTE/e.png)" width="10" height="10"/><rect fill="url(&#104;ttp://127.0.0.1:PORT/entity.png)" width="10" height="10"/>
<rect style="fill: u\72l(REMOTE/esc2.png)" width="10" height="10"/>
<rect filter="url(REMOTE/f.svg#f)" mask="url('REMOTE/m.svg#m')" clip-path="url( REMOTE/c.svg#c)" cursor="url(REMOTE/cur.png), auto"/>
<g style="background-image: image-set('REMOTE/is.png' 1x)"><rect width="1" height="1"/></g>
<animate attributeName="href" to="REMOTE/anim"/><set attributeName="onclick" to="alert(8)"/><animateTransform attributeName="transform" type="rotate" from="0" to="360" dur="1s"/><g><animateTransform attributeName="transform" type="rotate" from="0" to="360" dur="1s"/></g>
<circle id="t" r="5"><animate attributeName="href" values="#kept;REMOTE/anim"/><set attributeName="xlink:href" to="javascript:alert(9)"/><set attributeName="onLoad" to="window.pwned=9"/>
<set attributeName="style" to="fill:url(REMOTE/s.png)"/><set attributeName="class" to="inside"/><set attributeName="id" to="kept"/><set attributeName=" fill" to="#000"/>
<animate attributeName="fill" values="#000;url(REMOTE/f.png)"/><set attributeName="fill" attributeType="CSS" to="url(REMOTE/g.png)"/><animate attributeName="stroke" by="url(#p)"/>
<set attributeName="filter" to="url(REMOTE/f.svg#f)"/><set attributeName="mask" to="none"/><set attributeName="cursor" to="pointer"/><set attributeName="xml:base" to="REMOTE/"/>
<set attributeName="fill" to="java&#9;script:alert(10)"/><animate attributeName="d" to="&lt;script&gt;window.pwned=11&lt;/script&gt;"/><set attributeName="fill" attributeType="XML:href" to="red"/>
<set attributeName="fill" to="red" begin="accessKey(a)"/><set attributeName="fill" to="red" begin="wallclock(2030-01-01)"/><set attributeName="fill" to="red" end="kept.click; REMOTE.end"/>
<animateTransform attributeName="fill" type="rotate" to="red"/><animate href="REMOTE/x.svg#t" attributeName="r" to="9"/></circle>
<path id="route" d="M0 0h9"/><rect width="1" height="1"><animateMotion dur="1s"><mpath href="REMOTE/p.svg#route"/><mpath xlink:href="javascript:alert(12)"/></animateMotion></rect>
<image href="data:text/html,&lt;script&gt;alert(13)&lt;/script&gt;"/><image href="#kept"/><image href="data:image/png"/><image xlink:href="file:///etc/hosts"/>
<filter id="fi"><feImage href="#kept"/><feImage href="javascript:alert(14)"/><feImage href="REMOTE/f.svg"/></filter>
<textPath href="REMOTE/p#x">t</textPath>
<pattern id="p" width="1" height="1"><image href="REMOTE/pat.png"/></pattern><circle cx="20" cy="20" r="5" fill="url(#p)"/>
</svg>)SVG");

// What may never be left in the drawing, as the page holds it: elements that run, load or embed,
// handlers, script and non-local addresses in any attribute or style sheet, animations that would
// rewrite a reference, a handler or a style. Each finding is named.
const QString kHarmful = QStringLiteral(R"JS((() => {
    const found = [];
    const acts = ['script', 'foreignobject', 'iframe', 'object', 'embed', 'image', 'feimage', 'img',
                  'body', 'mpath', 'audio', 'video', 'link', 'meta', 'base'];
    // CSS (a style sheet, a style or presentation attribute, what an animation sets) reaches out
    // only through these; an address attribute through anything but a fragment.
    // A web address's parser drops tabs and newlines ("java\tscript:"); CSS's does not, so "ur l("
    // is no url() and loads nothing, while "url( #a )" is still a fragment.
    const reaches = (text) => {
        const t = text.toLowerCase();
        return t.replace(/[\t\n\r]/g, '').includes('javascript:') || t.includes('@import') ||
            (t.includes('\\') && t.includes('(')) || /url\((?!\s*['"]?\s*#)/.test(t) || t.includes('image-set(');
    };
    const styles = /^(style|fill|stroke|filter|mask|clip-path|cursor|marker-.*)$/;
    const addresses = /^(href|xlink:href|src|xml:base)$/;
    const sets = /^(to|from|by|values)$/;
    for (const el of DRAWING.querySelectorAll('*')) {
        const tag = el.localName.toLowerCase();
        const animation = /^(set|animate|animatetransform|animatemotion|animatecolor)$/.test(tag);
        if (acts.includes(tag))
            found.push('<' + tag + '>');
        if (tag === 'style' && reaches(el.textContent))
            found.push('style: ' + el.textContent);
        for (const a of el.attributes) {
            const name = a.name.toLowerCase();
            if (name.startsWith('on') || (addresses.test(name) && !a.value.trim().startsWith('#')) ||
                ((styles.test(name) || (animation && sets.test(name))) && reaches(a.value)))
                found.push(tag + ' ' + name + '=' + a.value);
            if (animation && name === 'attributename' && /^(on|href|xlink|style|class|id|filter|mask|cursor|xml)/i.test(a.value.trim()))
                found.push(tag + ' animates ' + a.value);
            // The keyboard belongs to the app; the wall clock would start a drawing's code later.
            if (animation && /^(begin|end)$/.test(name) && /accesskey|wallclock/i.test(a.value))
                found.push(tag + ' ' + name + '=' + a.value);
        }
    }
    return found.join('\n');
})())JS")
                             .replace(QLatin1String("DRAWING"), kDrawing);

// What the drawing's tree holds beyond the page's budgets, counted from the tree itself: elements,
// levels, animations, and elements that filter or mask (each at least one pass over pixels).
const QString kOverBudget = QStringLiteral(R"JS((() => {
    let elements = 0, deepest = 0, animations = 0, layers = 0;
    for (const el of DRAWING.querySelectorAll('*')) {
        ++elements;
        let depth = 0;
        for (let up = el; up && up !== DRAWING; up = up.parentNode)
            ++depth;
        deepest = Math.max(deepest, depth);
        if (/^(set|animate|animatetransform|animatemotion|animatecolor)$/i.test(el.localName))
            ++animations;
        // An empty or "none" reference draws nothing of its own.
        const paints = (name) => !['', 'none', null].includes(el.getAttribute(name));
        if (paints('filter') || paints('mask'))
            ++layers;
    }
    // The page's own style sheet and the drawing's root sit above what the budget counts.
    const over = [];
    if (elements > 20000 + 2) over.push(elements + ' elements');
    if (deepest > 256 + 2) over.push(deepest + ' levels');
    if (animations > 200) over.push(animations + ' animations');
    if (layers > 32) over.push(layers + ' filtered or masked elements');
    return over.join(', ');
})())JS")
                                .replace(QLatin1String("DRAWING"), kDrawing);

// Heavy drawings: a blue square near the top left, drawn by the part within the budget, and after
// the heavy part a red disc near the bottom right.
const QString kBlue = QStringLiteral("<rect width=\"40\" height=\"40\" fill=\"#00f\"/>");

QString heavy(const QString &body)
{
    return QStringLiteral("<svg viewBox=\"0 0 100 100\"><defs><filter id=\"f\"><feGaussianBlur "
                          "stdDeviation=\"1\"/></filter></defs>") +
           body + QStringLiteral("<circle cx=\"75\" cy=\"75\" r=\"20\" fill=\"#f00\"/></svg>");
}

// "Billion laughs": l0 holds the blue square's part; each level l<k> holds `base` copies of
// `child`, which refers to l<k-1> as %1, and `top` draws the highest level, again as %1.
QString tower(const QString &l0, const char *element, int base, int levels, const QString &child,
              const QString &top)
{
    QString svg = l0 + QStringLiteral("<defs>");
    for (int level = 1; level <= levels; ++level)
        svg += QStringLiteral("<%1 id=\"l%2\">").arg(QLatin1String(element)).arg(level) +
               child.arg(level - 1).repeated(base) + QStringLiteral("</%1>").arg(QLatin1String(element));
    return heavy(svg + QStringLiteral("</defs>") + top.arg(levels));
}

// A path of many vertices with the blue square's marker at its start and marker %1 at every
// vertex in between.
QString markedPath(int vertices)
{
    QString data = QStringLiteral("M75 75");
    for (int k = 0; k < vertices; ++k)
        data += QStringLiteral(" l%1 %2").arg(k % 3 - 1).arg(k % 2 ? 1 : -1);
    return QStringLiteral("<path d=\"%1\" fill=\"none\" marker-start=\"url(#l0)\" marker-mid=\"url(#l%2)\"/>")
        .arg(data, QStringLiteral("%1"));
}

QString delta(const QString &text)
{
    return QStringLiteral("window.applyDelta && window.applyDelta(") + CanvasController::js(text) +
           QLatin1Char(')');
}

// Whether the view shows about this colour at this point (in view coordinates).
bool near(const QImage &shot, QPoint at, const QColor &colour)
{
    const QColor seen = shot.pixelColor(at * shot.devicePixelRatio());
    return qAbs(seen.red() - colour.red()) < 16 && qAbs(seen.green() - colour.green()) < 16 &&
           qAbs(seen.blue() - colour.blue()) < 16;
}

} // namespace

// The canvas: the controller's commands, and one page for the whole suite in the production view,
// cleared before every test. The test bodies come after the class: moc reads this file too, and
// it loses its way in raw string literals that hold an odd number of quotes.
class TestCanvasPage : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_WEBENGINE_TEST_INIT_MAIN

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_page.load(400, 400)); }
    void init() { m_page.controller.resetCanvas(); }
    void cleanup() { allowRemoteUrls(false); }

    void piecesWithinAFrameGoOutAsOneCallToALiveView();
    void whatAReplyDrawsFollowsItsFirstSvg_data();
    void whatAReplyDrawsFollowsItsFirstSvg();
    void finishingARunShowsItsFinalSvg_data();
    void finishingARunShowsItsFinalSvg();
    void aHostileReplyRunsNothingLoadsNothingAndGoesNowhere_data();
    void aHostileReplyRunsNothingLoadsNothingAndGoesNowhere();
    void aHostileReplyCutUpAtRandomStaysHarmless();
    void theDrawingFitsTheCanvasAndItsReferencesRender();
    void aDrawingsOwnAnimationPlaysUntilPaused_data();
    void aDrawingsOwnAnimationPlaysUntilPaused();
    void animationsStandStillWhenTheSystemAsksUntilTheUserChooses();
    void aDrawingTooHeavyToShowIsCutToItsBudget_data();
    void aDrawingTooHeavyToShowIsCutToItsBudget();
    void theCanvasComesBackWhenItsPageIsLost_data();
    void theCanvasComesBackWhenItsPageIsLost();
    void aPageThatKeepsDyingIsReloadedLessOftenThenGivenUp_data();
    void aPageThatKeepsDyingIsReloadedLessOftenThenGivenUp();

private:
    // The view's own wall against remote loads; without it the page's defences must hold alone.
    void allowRemoteUrls(bool allowed)
    {
        m_page.view->property("settings")
            .value<QObject *>()
            ->setProperty("localContentCanAccessRemoteUrls", allowed);
    }
    QString tree() { return m_page.eval(kTree).toString(); }
    // The reply in pieces of minSize to maxSize characters, cut at the same places every run.
    void stream(const QString &reply, int minSize = 1, int maxSize = 6)
    {
        QRandomGenerator random(20240611);
        for (qsizetype at = 0, size = 0; at < reply.size(); at += size) {
            size = random.bounded(minSize, maxSize + 1);
            m_page.controller.applyDelta(reply.mid(at, size));
        }
    }

    PageHarness m_page;
};

// A burst reaches the page as its first piece at once and the rest joined, one call per frame;
// nothing is lost, reordered, or sent after the drawing it belonged to was cleared. Commands
// before there is a view wait for it, and a view that goes away is let go of, not called when dead.
void TestCanvasPage::piecesWithinAFrameGoOutAsOneCallToALiveView()
{
    CanvasController controller;
    controller.applyDelta(QStringLiteral("no view yet"));
    auto view = std::make_unique<RecordingView>();
    controller.setWebView(view.get());
    QCOMPARE(view->scripts, QStringList{delta(QStringLiteral("no view yet"))});
    view->scripts.clear();
    controller.setFrameIntervalMs(1000);
    controller.applyDelta(QStringLiteral("<svg"));
    controller.applyDelta(QStringLiteral(" a"));
    controller.applyDelta(QStringLiteral("=\"1\">"));
    QCOMPARE(view->scripts, QStringList{delta(QStringLiteral("<svg"))});
    controller.finish(std::nullopt);
    QCOMPARE(view->scripts.mid(1),
             (QStringList{delta(QStringLiteral(" a=\"1\">")),
                          QStringLiteral("window.finishDrawing && window.finishDrawing(\"\")")}));

    view->scripts.clear();
    controller.applyDelta(QStringLiteral("<svg>"));
    controller.applyDelta(QStringLiteral("<rect/>"));
    controller.resetCanvas();
    controller.applyDelta(QStringLiteral("<g>"));
    QCOMPARE(view->scripts, (QStringList{delta(QStringLiteral("<svg>")),
                                         QStringLiteral("window.resetCanvas && window.resetCanvas()"),
                                         delta(QStringLiteral("<g>"))}));

    // What is held back goes out at the end of the frame, without another piece to push it.
    controller.setFrameIntervalMs(10);
    controller.applyDelta(QStringLiteral("<rect/>"));
    controller.applyDelta(QStringLiteral("<circle/>"));
    QTRY_COMPARE(view->scripts.last(), delta(QStringLiteral("<circle/>")));
    QCOMPARE(view->scripts.size(), 5);

    view.reset();
    QCOMPARE(controller.webView(), nullptr);
    controller.applyDelta(QStringLiteral("dropped"));
    controller.finish(QStringLiteral("<svg/>"));
}

void TestCanvasPage::whatAReplyDrawsFollowsItsFirstSvg_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("drawing");
    QTest::newRow("capital letters, and end tags match in any case or are ignored")
        << "<SVG VIEWBOX=\"0 0 4 4\"><DEFS><LINEARGRADIENT ID=\"g\" GRADIENTUNITS=\"userSpaceOnUse\"/></DEFS>"
           "<G><RECT FILL=\"url(#g)\"></g><g></rect><circle/></g></SVG>"
        << "svg[viewBox=0 0 4 4](defs[](linearGradient[id=g,gradientUnits=userSpaceOnUse]()),"
           "g[](rect[fill=url(#g)]()),g[](circle[]()))";
    QTest::newRow("thinking that mentions <svg before the drawing")
        << "I'll write an <svg> with a sun.\n<svg viewBox=\"0 0 3 3\"><circle r=\"1\"/></svg>"
        << "svg[](svg[viewBox=0 0 3 3](circle[r=1]()))";
    QTest::newRow("comments, declarations and instructions skipped, a style sheet's CDATA unwrapped")
        << "<svg><!-- <rect/> --><?xml version=\"1.0\"?><!DOCTYPE svg><!----><text><![CDATA[a<b]]]>&lt;c"
           "</text><style><![CDATA[g > .a { fill: url(#g) }]]></style></svg>"
        << "svg[](text[](\"a<b]<c\"),style[](\"g > .a { fill: url(#g) }\"))";
    QTest::newRow("entities, known, unknown and unfinished, in text and attribute values")
        << "<svg><text font-family=\"A&amp;B &#8212;\" x='&#x31;'>A &amp; B &#8212; C &#x2014; "
           "&lt;&gt;&quot;&apos;&nbsp;&unknown; & x &#1; &amp</text></svg>"
        << "svg[](text[font-family=A&B \u2014,x=1](\"A & B \u2014 C \u2014 <>\\\"'\u00a0&unknown; & x "
           "\ufffd &amp\"))";
    // Each character goes to the page as its own string literal.
    QTest::newRow("text that would end the page's string literal early")
        << QStringLiteral("<svg><text>\"); window.pwned = 1; (\"\\ \r\n\t\u2028 \u00e9</text></svg>")
        << QStringLiteral("svg[](text[](\"\\\"); window.pwned = 1; (\\\"\\\\ \\r\\n\\t\u2028 \u00e9\"))");
    QTest::newRow("quotes of either kind and none, other namespaces dropped")
        << "<svg><circle r=5 cx='1' cy=\"2\" fill=#000 inkscape:label=\"L\" xml:space=\"preserve\"/></svg>"
        << "svg[](circle[r=5,cx=1,cy=2,fill=#000,xml:space=preserve]())";
    QTest::newRow("a link is a group or a span, a reference in either spelling")
        << "<svg><a href=\"#x\" target=\"_blank\"><rect id=\"a\"/></a><text><a href=\"#y\">t</a></text>"
           "<use xlink:href=\"#a\"/></svg>"
        << "svg[](g[](rect[id=a]()),text[](tspan[](\"t\")),use[href=#a]())";
    QTest::newRow("a nested svg does not end the drawing")
        << "<svg viewBox=\"0 0 4 4\"><svg x=\"1\"><rect/></svg><svg/><circle r=\"1\"/></svg><svg><g/></svg>"
        << "svg[viewBox=0 0 4 4](svg[x=1](rect[]()),svg[](),circle[r=1]())";
    // Only a target complete before the <use> has a known cost.
    QTest::newRow("a <use> of itself, an ancestor or what comes later is not created")
        << "<svg><use id=\"u\" href=\"#u\"/><g id=\"a\"><use href=\"#a\"/><rect/></g><use href=\"#b\"/>"
           "<circle id=\"b\"/><use href=\"#a\"/><use href=\"#b\"/><use href=\"#%62\"/></svg>"
        << "svg[](g[id=a](rect[]()),circle[id=b](),use[href=#a](),use[href=#b]())";
    QTest::newRow("animations of the drawing's own attributes, on its own clock and events")
        << "<svg><g id=\"w\"><rect/><animateTransform attributeName=\"transform\" type=\"rotate\" "
           "from=\"0 5 5\" to=\"360 5 5\" dur=\"2s\" begin=\"0s; w.click;a1.end+1s\" "
           "repeatCount=\"indefinite\"/></g><circle>"
           "<animate id=\"a1\" attributeName=\"r\" values=\"1;2;1\" dur=\"1s\" fill=\"freeze\"/>"
           "<set attributeName=\"visibility\" to=\"hidden\" begin=\"0:01.5\" attributeType=\"CSS\"/>"
           "<animate attributeName=\"fill\" values=\"#f00;rgb(0, 0, 255)\" end=\"indefinite\"/></circle>"
           "<path id=\"p\" d=\"M0 0h9\"/><rect><animateMotion dur=\"3s\" attributeName=\"href\" "
           "rotate=\"auto\"><mpath xlink:href=\"#p\"/></animateMotion></rect><mpath href=\"#p\"/></svg>"
        << "svg[](g[id=w](rect[](),animateTransform[attributeName=transform,type=rotate,from=0 5 5,"
           "to=360 5 5,dur=2s,begin=0s; w.click;a1.end+1s,repeatCount=indefinite]()),"
           "circle[](animate[id=a1,attributeName=r,values=1;2;1,dur=1s,fill=freeze](),"
           "set[attributeName=visibility,to=hidden,begin=0:01.5,attributeType=CSS](),"
           "animate[attributeName=fill,values=#f00;rgb(0, 0, 255),end=indefinite]()),"
           "path[id=p,d=M0 0h9](),rect[](animateMotion[dur=3s,rotate=auto](mpath[href=#p]())))";
    QTest::newRow("animations of the root itself are left out")
        << "<svg id=\"s\"><animate attributeName=\"opacity\" to=\"0\"/><g><set href=\"#s\" "
           "attributeName=\"x\" "
           "to=\"1\"/><set href=\"#t\" attributeName=\"x\" to=\"1\"/></g></svg>"
        << "svg[id=s](g[](set[href=#t,attributeName=x,to=1]()))";
    QTest::newRow("pictures written into the drawing as data: URLs")
        << "<svg><image x=\"1\" href=\"data:image/png;base64,iVBORw0KGgo=\"/><filter><feImage "
           "xlink:href=\" data:image/SVG+xml;utf8,%3Csvg%3E%3C/svg%3E\" result=\"i\"/></filter>"
           "<image xlink:href=\"data:image/webp;base64,&#10;UklGR\"/><image href=\"data:image/gif,G\"/></svg>"
        << "svg[](image[x=1,href=data:image/png;base64,iVBORw0KGgo=](),filter[](feImage[result=i,"
           "href=data:image/SVG+xml;utf8,%3Csvg%3E%3C/svg%3E]()),image[href=data:image/webp;base64,UklGR](),"
           "image[href=data:image/gif,G]())";
}

void TestCanvasPage::whatAReplyDrawsFollowsItsFirstSvg()
{
    QFETCH(QString, reply);
    QFETCH(QString, drawing);
    // A character at a time, so the stream is cut at every place in every tag and reference. The
    // text shown only ever grows: "&am" never shows on the way to "&".
    QString shown;
    for (const QChar c : reply) {
        m_page.controller.applyDelta(QString(c));
        const QString now = m_page.eval(kDrawing + QStringLiteral(".textContent")).toString();
        QVERIFY2(now.startsWith(shown), qPrintable(now));
        shown = now;
    }
    QCOMPARE(tree(), drawing);
    // The drawing the app cuts out of the reply, built at once, is the same.
    m_page.controller.resetCanvas();
    m_page.controller.finish(SvgExtract::local(reply));
    QCOMPARE(tree(), drawing);
}

void TestCanvasPage::finishingARunShowsItsFinalSvg_data()
{
    QTest::addColumn<QString>("streamed");
    QTest::addColumn<QString>("final");
    QTest::addColumn<QString>("expected"); // empty: the final SVG as it draws at once
    QTest::addColumn<bool>("sameNodes");   // what was streamed stays on the canvas, not rebuilt
    const QString svg = QStringLiteral(
        "<svg viewBox=\"0 0 10 10\"><defs><linearGradient id=\"g\"><stop/></linearGradient></defs>"
        "<g id=\"a\"><rect fill=\"url(#g)\" width=\"1\" height=\"1\"/><circle r=\"2\"/></g>"
        "<text>x &amp; y</text></svg>");
    QTest::newRow("the streamed SVG itself") << "```svg\n" + svg + "\n```" << svg << QString() << true;
    QTest::newRow("after another drawing")
        << QStringLiteral("Here:\n```svg\n<svg><circle r=\"2\"/></svg>\n```") << svg << QString() << false;
    QTest::newRow("no SVG at the end: the partial drawing stays")
        << QStringLiteral("<svg viewBox=\"0 0 9 9\"><rect width=\"3\" height=\"3\"/><circ") << QString()
        << QStringLiteral("svg[viewBox=0 0 9 9](rect[width=3,height=3]())") << true;
}

void TestCanvasPage::finishingARunShowsItsFinalSvg()
{
    QFETCH(QString, streamed);
    QFETCH(QString, final);
    QFETCH(QString, expected);
    QFETCH(bool, sameNodes);
    if (expected.isEmpty()) {
        // A run before this one, finished and cleared: nothing of it stays or holds the next back.
        m_page.controller.finish(final);
        expected = tree();
        m_page.controller.resetCanvas();
        QCOMPARE(tree(), QString());
    }
    stream(streamed);
    const QString root = kDrawing + QStringLiteral(".firstElementChild");
    m_page.eval(root + QStringLiteral(" && (") + root + QStringLiteral(".dravlinMark = 1)"));
    m_page.controller.finish(final);
    QCOMPARE(tree(), expected);
    QCOMPARE(m_page.eval(root + QStringLiteral(".dravlinMark === 1")).toBool(), sameNodes);
    // A drawing swapped in appears whole: nothing in it fades in.
    if (!sameNodes)
        QCOMPARE(m_page.eval(kDrawing + QStringLiteral(".getAnimations().length")).toInt(), 0);
}

void TestCanvasPage::aHostileReplyRunsNothingLoadsNothingAndGoesNowhere_data()
{
    QTest::addColumn<bool>("remoteUrlsAllowed");
    QTest::newRow("in the view as it ships") << false;
    QTest::newRow("with the view's remote-URL wall lowered") << true;
}

void TestCanvasPage::aHostileReplyRunsNothingLoadsNothingAndGoesNowhere()
{
    QFETCH(bool, remoteUrlsAllowed);
    FakeHttpServer server;
    const QString remote = server.url().toString();
    QString svg = kHostile;
    svg.replace(QLatin1String("REMOTE"), remote);
    svg.replace(QLatin1String("PORT"), QString::number(server.port()));
    allowRemoteUrls(remoteUrlsAllowed);
    const QUrl pageUrl = m_page.currentUrl();

    stream(QStringLiteral("Here you go:\n```svg\n") + svg + QStringLiteral("\n```"));
    const QString streamed = tree();
    // Give anything that slipped through every chance to run, load or navigate: frames, a timer in
    // the page, a frame on screen. Then the same reply built at once on a clean canvas.
    for (const bool clean : {false, true}) {
        if (clean)
            m_page.controller.resetCanvas();
        m_page.controller.finish(svg);
        QVERIFY(m_page.settle(3, 200) && !m_page.grab().isNull());
    }
    QCOMPARE(tree(), streamed);

    // What leaves the app is that same sanitized drawing, saved or rendered (a width wins over a
    // scale), with the model's own style sheet applied.
    QTemporaryDir dir;
    Exporter exporter;
    exporter.setCanvas(&m_page.controller);
    const QString svgPath = dir.filePath(QStringLiteral("out.svg")),
                  pngPath = dir.filePath(QStringLiteral("out.png"));
    QSignalSpy finished(&exporter, &Exporter::finished);
    exporter.saveSvg(QUrl::fromLocalFile(svgPath));
    QVERIFY(finished.wait(30000) && finished.last().first().toBool());
    exporter.savePng(QUrl::fromLocalFile(pngPath), 2, 300, true);
    QVERIFY2(finished.wait(30000) && finished.last().first().toBool(), qPrintable(exporter.message()));
    QFile file(svgPath);
    const QString saved = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    QVERIFY(saved.contains(QLatin1String(".inside { fill: rgb(1, 2, 3) }")));
    const QImage png(pngPath);
    QCOMPARE(png.size(), QSize(300, 300));
    QCOMPARE(png.pixelColor(255, 255), QColor(1, 2, 3));

    // Nothing that can act survived, on the canvas or in the file, and the harmless drawing did.
    // Beyond harm: no animation whose target or values the page refused (they all set "red" or
    // write markup), and no address of the server left anywhere, not even as text.
    const QString inFile = QStringLiteral("new DOMParser().parseFromString(%1, 'image/svg+xml')")
                               .arg(CanvasController::js(saved));
    QCOMPARE(m_page.eval(kHarmful).toString(), QString());
    QCOMPARE(m_page.eval(QString(kHarmful).replace(kDrawing, inFile)).toString(), QString());
    for (const char *banned : {"to=red", "attributeName= ", "pwned", "127.0.0.1", "data:"})
        QVERIFY2(!(streamed + saved).contains(QLatin1String(banned), Qt::CaseInsensitive), banned);
    for (const QString &part : {QStringLiteral("g[](circle[id=kept,cx=50,cy=50,r=10,fill=#000]())"),
                                QStringLiteral("g[](text[x=5,y=5](\"link\"))"),
                                QStringLiteral("circle[cx=20,cy=20,r=5,fill=url(#p)]()"),
                                QStringLiteral("feGaussianBlur[stdDeviation=1]()"),
                                QStringLiteral("circle[id=t,r=5](animate[attributeName=r,to=9]())"),
                                QStringLiteral("rect[width=1,height=1](animateMotion[dur=1s]())"),
                                QStringLiteral("animateTransform[attributeName=transform,type=rotate,from=0,"
                                               "to=360,dur=1s]()"),
                                QStringLiteral("rect[class=inside,x=80,y=80,width=10,height=10]()")})
        QVERIFY2(streamed.contains(part), qPrintable(part));
    QCOMPARE(streamed.count(QStringLiteral("style[]()")), 5);
    // The model's style sheet reaches the drawing and nothing around it.
    QCOMPARE(m_page
                 .eval(QStringLiteral("getComputedStyle(document.getElementById('stage')).display + ' ' + "
                                      "getComputedStyle(%1.querySelector('.inside')).fill")
                           .arg(kDrawing))
                 .toString(),
             QStringLiteral("block rgb(1, 2, 3)"));

    // As if some script had run after all: the view still never leaves the page.
    m_page.eval(QStringLiteral("document.title = 'still here'; location.href = '%1/away'; true").arg(remote));
    QVERIFY(m_page.settle(3, 200));
    QCOMPARE(m_page.eval(QStringLiteral("String(window.open('%1/window'))").arg(remote)).toString(),
             QStringLiteral("null"));
    QCOMPARE(m_page.currentUrl(), pageUrl);
    QCOMPARE(m_page.eval(QStringLiteral("document.title")).toString(), QStringLiteral("still here"));

    QCOMPARE(m_page.eval(QStringLiteral("typeof window.pwned")).toString(), QStringLiteral("undefined"));
    QCOMPARE(m_page.dialogs(), 0);
    QCOMPARE(server.requests().size(), 0);
}

// The hostile reply and an ordinary one cut up at random, the way a model's output or an
// attacker's could be: lines shuffled, pieces dropped, doubled, re-cased, and stray markup,
// entities and escapes put in, then streamed in pieces of every size. Whatever the sanitizer makes
// of each, nothing in it may act, reach out or run, and it stays within the page's budgets.
// DRAVLIN_PAGE_FUZZ_RUNS sets how many (200 otherwise) and DRAVLIN_PAGE_FUZZ_SEED which sequence.
void TestCanvasPage::aHostileReplyCutUpAtRandomStaysHarmless()
{
    FakeHttpServer server;
    QString hostile = kHostile;
    hostile.replace(QLatin1String("REMOTE"), server.url().toString());
    hostile.replace(QLatin1String("PORT"), QString::number(server.port()));
    // Lines of a real drawing's reply go in among them, so the hostile ones also land inside
    // ordinary markup.
    QFile ordinary(QStringLiteral(DRAVLIN_TEST_DATA "/lighthouse-reply.txt"));
    QVERIFY(ordinary.open(QIODevice::ReadOnly));
    // And heavy lines, so that the budgets are met and gone over.
    const QStringList heavyLines{
        QStringLiteral("<g>").repeated(300) + kBlue,
        QStringLiteral("<rect width=\"9\" height=\"9\"><animate attributeName=\"x\" dur=\"1s\" "
                       "values=\"0;9\"/></rect>")
            .repeated(210),
        QStringLiteral("<filter id=\"f\"><feGaussianBlur stdDeviation=\"1\"/></filter>") +
            QStringLiteral("<rect width=\"9\" height=\"9\" filter=\"url(#f)\" mask=\"url(#f)\"/>")
                .repeated(40),
    };
    QStringList lines = hostile.split('\n') + QString::fromUtf8(ordinary.readAll()).split('\n');
    for (int copies = 0; copies < 8; ++copies) // about one line in five
        lines += heavyLines;
    const QStringList stray{"<",           ">",      "/>",       "\"",     "'",     "=",
                            " ",           "\t",     "\n",       "&#106;", "&amp;", "&lt;",
                            "<![CDATA[",   "]]>",    "<!--",     "-->",    "\\",    "url(",
                            "javascript:", " on",    "<script>", "</svg>", "<svg>", "<style>",
                            "</style>",    "xlink:", "href=",    "\u0000", "ﬀ"};
    bool set = false;
    const int asked = qEnvironmentVariableIntValue("DRAVLIN_PAGE_FUZZ_RUNS", &set);
    const int runs = set ? asked : 200;
    const int chosen = qEnvironmentVariableIntValue("DRAVLIN_PAGE_FUZZ_SEED", &set);
    const quint32 seed = set ? quint32(chosen) : 7;
    QRandomGenerator random(seed);
    const auto pick = [&random](qsizetype size) {
        return size > 0 ? random.bounded(size) : 0;
    };
    // Every piece its own call, as if each arrived in a frame of its own: the page meets every cut.
    // And no collection at every reset, which would cost each run more than all the rest of it.
    const int frameInterval = m_page.controller.frameIntervalMs();
    m_page.controller.setFrameIntervalMs(0);
    m_page.eval(QStringLiteral("window.keptGc = window.gc; window.gc = undefined; true"));
    const auto restore = qScopeGuard([&] {
        m_page.controller.setFrameIntervalMs(frameInterval);
        m_page.eval(QStringLiteral("window.gc = window.keptGc; true"));
    });
    for (int run = 0; run < runs; ++run) {
        QString reply;
        for (int n = 2 + int(random.bounded(8)); n > 0; --n) {
            QString line = lines.at(pick(lines.size()));
            for (int edits = int(random.bounded(4)); edits > 0; --edits) {
                const qsizetype at = pick(line.size() + 1);
                const qsizetype length = qMin<qsizetype>(line.size() - at, 1 + pick(24));
                switch (random.bounded(4)) {
                case 0:
                    line.remove(at, length);
                    break;
                case 1:
                    line.insert(pick(line.size() + 1), line.mid(at, length));
                    break;
                case 2:
                    line.replace(at, length, line.mid(at, length).toUpper());
                    break;
                default:
                    line.insert(at, stray.at(pick(stray.size())));
                }
            }
            reply += line + '\n';
        }
        m_page.controller.resetCanvas();
        QRandomGenerator cuts(seed * 1000003u + quint32(run));
        // Cuts of 1 to 16 characters, longer in a long reply: a couple of hundred calls at most.
        const int longest = int(qMax<qsizetype>(16, reply.size() / 100));
        for (qsizetype at = 0, size = 0; at < reply.size(); at += size) {
            size = 1 + cuts.bounded(longest);
            m_page.controller.applyDelta(reply.mid(at, size));
        }
        // Half the runs end on the drawing alone, which the page builds again aside and swaps in.
        const qsizetype open = reply.indexOf(QLatin1String("<svg"), 0, Qt::CaseInsensitive);
        m_page.controller.finish(run % 2 || open < 0 ? reply : reply.sliced(open));
        // Every tenth run is drawn before it is checked; the rest are checked as soon as the page
        // has taken them, which is what lets a run of a hundred thousand fit in an hour.
        if (run % 10 == 0)
            QVERIFY(m_page.settle(2));
        const QString found = m_page.eval(kHarmful + QStringLiteral(" + ") + kOverBudget).toString();
        QVERIFY2(
            found.isEmpty(),
            qPrintable(
                QStringLiteral("seed %1, run %2 left:\n%3\nof:\n%4").arg(seed).arg(run).arg(found, reply)));
    }
    // Anything that slipped through has had frames and a timer's worth of time to act.
    QVERIFY(m_page.settle(3, 200));
    QCOMPARE(m_page.eval(QStringLiteral("typeof window.pwned")).toString(), QStringLiteral("undefined"));
    QCOMPARE(m_page.dialogs(), 0);
    QCOMPARE(server.requests().size(), 0);
}

// A sized drawing without a viewBox fits the view within a 2% margin, centred (200 x 100 units at
// 1.92 px, y 104 to 296); a gradient fill, a <use> of a shape in <defs> and a clip path all show.
void TestCanvasPage::theDrawingFitsTheCanvasAndItsReferencesRender()
{
    m_page.controller.finish(QStringLiteral(
        "<svg width=\"200px\" height=\"100\"><defs><linearGradient id=\"g\"><stop stop-color=\"#000\"/>"
        "</linearGradient><clipPath id=\"c\"><circle cx=\"160\" cy=\"50\" r=\"30\"/></clipPath>"
        "<rect id=\"r\" width=\"40\" height=\"40\"/></defs><rect width=\"60\" height=\"100\" "
        "fill=\"url(#g)\"/><use href=\"#r\" x=\"70\" y=\"30\"/><rect x=\"120\" width=\"80\" "
        "height=\"100\" clip-path=\"url(#c)\"/></svg>"));
    QVERIFY(m_page.waitUntilStill() && m_page.settle(2));
    // Ink and paper where each should be, once the page's frame has reached the window.
    const auto drawn = [this] {
        const QImage shot = m_page.grab();
        const QPoint ink[] = {{12, 200}, {30, 110}, {30, 290}, {181, 200}, {315, 200}, {365, 200}};
        const QPoint paper[] = {{200, 90}, {200, 310}, {133, 200}, {248, 114}};
        return std::all_of(std::begin(ink), std::end(ink),
                           [&](QPoint at) { return near(shot, at, Qt::black); }) &&
               std::all_of(std::begin(paper), std::end(paper),
                           [&](QPoint at) { return near(shot, at, Qt::white); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(drawn(), 10000);
}

// A bar turning about the middle, flat at its beginning, and a red dot that is hidden 50 ms in:
// by SMIL, and by the model's style sheet with rules on element types, which the page's own
// arrival animation once outranked and then stopped for good.
void TestCanvasPage::aDrawingsOwnAnimationPlaysUntilPaused_data()
{
    QTest::addColumn<QString>("svg");
    const QString head =
        QStringLiteral("<svg viewBox=\"0 0 100 100\"><rect width=\"100\" height=\"100\" fill=\"#fff\"/>");
    QTest::newRow("SMIL") << head + QStringLiteral(
                                        "<path d=\"M10 45h80v10h-80z\"><animateTransform "
                                        "attributeName=\"transform\" type=\"rotate\" from=\"0 50 50\" "
                                        "to=\"360 50 50\" dur=\"2s\" repeatCount=\"indefinite\"/></path>"
                                        "<circle cx=\"90\" cy=\"90\" r=\"8\" fill=\"#f00\"><set "
                                        "attributeName=\"opacity\" to=\"0\" begin=\"0.05s\"/>"
                                        "</circle></svg>");
    QTest::newRow("CSS") << head + QStringLiteral(
                                       "<style>path { transform-origin: 50px 50px; animation: turn 2s linear "
                                       "infinite } @keyframes turn { to { transform: rotate(360deg) } } "
                                       "circle { animation: gone 50ms steps(1) forwards } @keyframes gone "
                                       "{ to { opacity: 0 } }</style><path d=\"M10 45h80v10h-80z\"/>"
                                       "<circle cx=\"90\" cy=\"90\" r=\"8\" fill=\"#f00\"/></svg>");
}

void TestCanvasPage::aDrawingsOwnAnimationPlaysUntilPaused()
{
    QFETCH(QString, svg);
    const auto unpause = qScopeGuard([this] { m_page.controller.setAnimationsPaused(false); });
    // In view coordinates: the bar's left end when flat, the dot.
    const QPoint barEnd(8 + 15 * 384 / 100, 200), dot(8 + 90 * 384 / 100, 8 + 90 * 384 / 100);
    const auto moving = [this] {
        const QImage before = m_page.grab();
        return m_page.settle(8, 100) && m_page.grab() != before;
    };
    stream(svg);
    m_page.controller.finish(svg);
    QVERIFY(m_page.waitUntilStill() && m_page.settle(2, 100));
    QVERIFY2(moving(), "turns once the drawing has settled");
    screenshot(m_page.window, QStringLiteral("canvas-animated-") + QLatin1String(QTest::currentDataTag()));
    QVERIFY(near(m_page.grab(), dot, Qt::white));

    // The file keeps the animation; the picture is the drawing at its beginning.
    QTemporaryDir dir;
    Exporter exporter;
    exporter.setCanvas(&m_page.controller);
    QSignalSpy finished(&exporter, &Exporter::finished);
    exporter.saveSvg(QUrl::fromLocalFile(dir.filePath(QStringLiteral("a.svg"))));
    QVERIFY(finished.wait(30000) && finished.last().first().toBool());
    exporter.savePng(QUrl::fromLocalFile(dir.filePath(QStringLiteral("a.png"))), 1, 100, true);
    QVERIFY2(finished.wait(30000) && finished.last().first().toBool(), qPrintable(exporter.message()));
    QFile file(dir.filePath(QStringLiteral("a.svg")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    QVERIFY(saved.contains("animateTransform") || saved.contains("@keyframes turn"));
    const QImage png(dir.filePath(QStringLiteral("a.png")));
    QVERIFY(near(png, {15, 50}, Qt::black) && near(png, {50, 15}, Qt::white) && near(png, {90, 90}, Qt::red));

    // Paused, it stands still; a drawing shown while paused stands at its beginning, and plays
    // from there when let go.
    m_page.controller.setAnimationsPaused(true);
    QVERIFY(m_page.settle(2));
    QVERIFY2(!moving(), "paused");
    m_page.controller.resetCanvas();
    m_page.controller.finish(svg);
    QVERIFY(m_page.settle(8, 100));
    QVERIFY(!moving());
    const QImage still = m_page.grab();
    QVERIFY(near(still, barEnd, Qt::black) && near(still, dot, Qt::red));
    m_page.controller.setAnimationsPaused(false);
    QVERIFY2(moving(), "let go");
}

// Without a choice of the user's, animations stand still when the system asks for less motion, as
// the page reports each time it loads; once the user has chosen, the choice holds. A page that has
// just loaded hears of it before any drawing.
void TestCanvasPage::animationsStandStillWhenTheSystemAsksUntilTheUserChooses()
{
    const QString pause = QStringLiteral("window.setAnimationsPaused && window.setAnimationsPaused(%1)");
    CanvasController controller;
    RecordingView view;
    view.answerTo = &controller;
    bool reduced = true;
    view.onQuery = [&reduced](const QString &script) {
        return script.contains(QLatin1String("prefersReducedMotion")) ? QVariant(reduced) : QVariant();
    };
    QSignalSpy changed(&controller, &CanvasController::animationsPausedChanged);
    QVERIFY(!controller.animationsPaused());
    controller.setWebView(&view);
    QTRY_VERIFY(controller.animationsPaused());
    QCOMPARE(view.scripts, QStringList{pause.arg(QLatin1String("true"))});

    controller.setAnimationsPaused(false);
    QCOMPARE(view.scripts.last(), pause.arg(QLatin1String("false")));
    reduced = false;
    controller.setSystemReducedMotion(false);
    controller.setSystemReducedMotion(true);
    QCOMPARE(changed.size(), 2);
    QVERIFY(!controller.animationsPaused());

    controller.setAnimationsPaused(true);
    view.scripts.clear();
    controller.reportPageLoading();
    controller.applyDelta(QStringLiteral("<svg>"));
    controller.reportPageLoaded(true);
    QCOMPARE(view.scripts, (QStringList{pause.arg(QLatin1String("true")), delta(QStringLiteral("<svg>"))}));
}

void TestCanvasPage::aDrawingTooHeavyToShowIsCutToItsBudget_data()
{
    QTest::addColumn<QString>("svg");
    // How many of these the page shows: at least, and fewer than (the markup has more).
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("atLeast");
    QTest::addColumn<int>("fewerThan");
    const QString l0 = QStringLiteral("<g id=\"l0\">") + kBlue + QStringLiteral("</g>");
    const QString use = QStringLiteral("<use href=\"#l%1\"/>");
    const QString white = QStringLiteral("<rect width=\"90\" height=\"90\" fill=\"#fff\"");
    QTest::newRow("10^8 <use>") << tower(l0, "g", 10, 8, use, use) << "use" << 10 << 81;
    QTest::newRow("6,000 nested groups")
        << heavy(QStringLiteral("<g>") + kBlue + QStringLiteral("<g>").repeated(5999) +
                 QStringLiteral("<rect width=\"1\" height=\"1\"/>") + QStringLiteral("</g>").repeated(6000))
        << "g" << 100 << 6000;
    // Half of them filtered by an attribute, half by their style.
    QTest::newRow("a thousand filtered shapes")
        << heavy(QStringLiteral("<rect width=\"20\" height=\"20\" fill=\"#00f\" filter=\"url(#f)\"/>"
                                "<rect width=\"20\" height=\"20\" fill=\"#00f\" style=\"filter: url(#f)\"/>")
                     .repeated(500))
        << "[filter], [style*=filter]" << 2 << 100;
    QTest::newRow("10^3 masks")
        << tower(QStringLiteral("<mask id=\"l0\">") + white + QStringLiteral("/></mask>"), "mask", 10, 3,
                 white + QStringLiteral(" mask=\"url(#l%1)\"/>"),
                 QStringLiteral("<rect width=\"40\" height=\"40\" fill=\"#00f\" mask=\"url(#l%1)\"/>"))
        << "[mask]" << 10 << 31;
    QTest::newRow("markers on markers, 10^3 at each of 1,000 vertices")
        << tower(QStringLiteral("<marker id=\"l0\" markerUnits=\"userSpaceOnUse\" refX=\"75\" refY=\"75\" "
                                "overflow=\"visible\">") +
                     kBlue + QStringLiteral("</marker>"),
                 "marker", 1, 3, markedPath(10), markedPath(1000))
        << "[marker-mid]" << 1 << 4;
    // Copies of one long path: cheap to count as elements, dear to draw; its length is what weighs.
    QString points;
    for (int i = 0; i < 800; ++i)
        points += QStringLiteral(" L%1 %2").arg(i % 97).arg((i * 7) % 89);
    QTest::newRow("a thousand copies of a 6 KB path")
        << heavy(QStringLiteral("<g id=\"l0\">") + kBlue +
                 QStringLiteral("<path d=\"M0 0%1\" fill=\"none\" stroke=\"#0f0\" stroke-width=\"0.1\"/></g>")
                     .arg(points) +
                 QStringLiteral("<use href=\"#l0\"/>").repeated(1000))
        << "use" << 10 << 200;
    QTest::newRow("a thousand animations")
        << heavy(kBlue + QStringLiteral("<rect width=\"9\" height=\"9\"><animate attributeName=\"x\" "
                                        "values=\"0;50\" dur=\"1s\" repeatCount=\"indefinite\"/></rect>")
                             .repeated(1000))
        << "animate" << 200 << 201;
}

// Each streamed and then finished at once: the page keeps answering, shows the part within its
// budget and what follows it, and draws the next drawing as usual. Unbudgeted, these froze the page
// for 35-65 s or crashed it; budgeted, it answers in under 4 s even on a busy machine. The counts
// say whether the budget held. Sanitizers slow this process, not the page: looser limit, no pixels.
#ifdef __SANITIZE_ADDRESS__
constexpr qint64 kAnswerLimitMs = 8000;
constexpr bool kCheckPaint = false;
#else
constexpr qint64 kAnswerLimitMs = 5000;
constexpr bool kCheckPaint = true;
#endif

void TestCanvasPage::aDrawingTooHeavyToShowIsCutToItsBudget()
{
    QFETCH(QString, svg);
    QFETCH(QString, what);
    QFETCH(int, atLeast);
    QFETCH(int, fewerThan);
    for (const bool streamed : {true, false}) {
        m_page.controller.resetCanvas();
        if (streamed) {
            stream(QStringLiteral("Here:\n```svg\n") + svg, 20, 60);
            m_page.eval(QStringLiteral("0"));
        }
        QElapsedTimer answered;
        answered.start();
        m_page.controller.finish(svg);
        QVERIFY(m_page.settle(2));
        const qint64 elapsed = answered.elapsed();
        const int count =
            m_page.eval(kDrawing + QStringLiteral(".querySelectorAll('%1').length").arg(what)).toInt();
        QVERIFY2(count >= atLeast && count < fewerThan, qPrintable(QString::number(count)));
        QVERIFY2(elapsed < kAnswerLimitMs,
                 qPrintable(QStringLiteral("%1 ms, streamed: %2").arg(elapsed).arg(streamed)));
        if (!kCheckPaint)
            continue;
        QVERIFY(m_page.waitUntilStill());
        // The page's frame reaches the window a little later, the later the busier the machine:
        // the part within the budget shows, and so does what follows it.
        QTRY_VERIFY_WITH_TIMEOUT(
            near(m_page.grab(), {60, 60}, Qt::blue) && near(m_page.grab(), {300, 300}, Qt::red), 10000);
    }

    m_page.controller.resetCanvas();
    m_page.controller.finish(
        QStringLiteral("<svg viewBox=\"0 0 1 1\"><rect width=\"1\" height=\"1\"/></svg>"));
    QCOMPARE(tree(), QStringLiteral("svg[viewBox=0 0 1 1](rect[width=1,height=1]())"));
}

void TestCanvasPage::theCanvasComesBackWhenItsPageIsLost_data()
{
    QTest::addColumn<bool>("stopsAnswering");
    QTest::newRow("its render process is killed") << false;
    QTest::newRow("it stops answering") << true;
}

void TestCanvasPage::theCanvasComesBackWhenItsPageIsLost()
{
    QFETCH(bool, stopsAnswering);
    // The session's own canvas drives the page, as in the window.
    DrawSession session;
    CanvasController &canvas = *session.canvas();
    m_page.view->setProperty("controller", QVariant::fromValue(&canvas));
    const auto restore = qScopeGuard([this] {
        m_page.view->setProperty("unresponsiveAfterMs", 8000);
        m_page.view->setProperty("controller", QVariant::fromValue(&m_page.controller));
    });
    const QString drawing = QStringLiteral("<svg viewBox=\"0 0 1 1\"><circle r=\"1\"/></svg>");
    canvas.resetCanvas();
    canvas.applyDelta(drawing);
    QCOMPARE(tree(), QStringLiteral("svg[viewBox=0 0 1 1](circle[r=1]())"));

    QSignalSpy reloaded(m_page.window, SIGNAL(pageLoaded(bool)));
    if (stopsAnswering) {
        m_page.view->setProperty("unresponsiveAfterMs", 1500);
        QMetaObject::invokeMethod(m_page.view, "runJavaScript",
                                  Q_ARG(QString, QStringLiteral("for (;;) {}")));
    } else {
        QVERIFY(::kill(pid_t(m_page.view->property("renderProcessPid").toLongLong()), SIGKILL) == 0);
    }
    QVERIFY(reloaded.wait(30000));
    QCOMPARE(reloaded.first().first().toBool(), true);
    QCOMPARE(session.statusNote(),
             std::optional<QString>(QStringLiteral("The drawing was too heavy to show.")));
    QCOMPARE(tree(), QString());

    // The rest of the lost run is not sent again; the next run draws.
    canvas.finish(drawing);
    QCOMPARE(tree(), QString());
    canvas.resetCanvas();
    canvas.finish(QStringLiteral("<svg><rect/></svg>"));
    QCOMPARE(tree(), QStringLiteral("svg[](rect[]())"));
}

// The wait before each reload, by when the page's process ended (ms, oldest first): at once, then
// longer, then never within a minute; an end more than a minute before the last starts afresh.
void TestCanvasPage::aPageThatKeepsDyingIsReloadedLessOftenThenGivenUp_data()
{
    QTest::addColumn<QList<qint64>>("ended");
    QTest::addColumn<int>("delay");
    QTest::newRow("first") << QList<qint64>{5} << 0;
    QTest::newRow("second") << QList<qint64>{5, 900} << 500;
    QTest::newRow("third") << QList<qint64>{5, 900, 3000} << 2000;
    QTest::newRow("fourth within a minute") << QList<qint64>{5, 900, 3000, 59'000} << -1;
    QTest::newRow("fourth, the first a minute before") << QList<qint64>{5, 900, 3000, 60'005} << 2000;
    QTest::newRow("long after") << QList<qint64>{0, 10, 20, 30, 200'000} << 0;
}

void TestCanvasPage::aPageThatKeepsDyingIsReloadedLessOftenThenGivenUp()
{
    QFETCH(QList<qint64>, ended);
    QTEST(CanvasController::reloadDelayMs(ended), "delay");
    if (QTest::currentDataTag() != QLatin1String("first"))
        return;

    // The real page, killed again as soon as it is back: the fourth time the canvas says it could
    // not start instead of loading again, and the user's retry brings it back.
    auto *failed = m_page.view->findChild<QQuickItem *>(QStringLiteral("canvasFailed"));
    QVERIFY(failed && !failed->isVisible());
    QSignalSpy reloaded(m_page.window, SIGNAL(pageLoaded(bool)));
    QSignalSpy lost(&m_page.controller, &CanvasController::drawingLost);
    for (int time = 1; time <= 4; ++time) {
        QVERIFY(::kill(pid_t(m_page.view->property("renderProcessPid").toLongLong()), SIGKILL) == 0);
        if (time < 4)
            QVERIFY(reloaded.wait(30000));
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_page.controller.pageFailed(), 30000);
    QVERIFY(failed->isVisible());
    // Nothing was drawn on the pages that died: no drawing was lost.
    QCOMPARE(lost.size(), 0);
    QCOMPARE(reloaded.size(), 3);
    screenshot(m_page.window, QStringLiteral("canvas-failed"));
    m_page.controller.retryPage();
    QVERIFY(reloaded.wait(30000));
    QVERIFY(!m_page.controller.pageFailed() && !failed->isVisible());
    m_page.controller.resetCanvas();
    m_page.controller.finish(QStringLiteral("<svg><rect/></svg>"));
    QCOMPARE(tree(), QStringLiteral("svg[](rect[]())"));
}

QTEST_MAIN(TestCanvasPage)
#include "tst_canvaspage.moc"
