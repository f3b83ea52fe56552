#include "account/dravlinaccount.h"
#include "account/keychain.h"
#include "fakehttpserver.h"
#include "session/drawsession.h"
#include "testenvironment.h"
#include "ui/contentcontroller.h"
#include "ui/formats.h"
#include "ui/modelssheetcontroller.h"
#include "ui/rowsmodel.h"
#include "ui/visiblenarration.h"

#include <QFile>
#include <QImage>
#include <QKeySequence>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QByteArray kFeatured = R"({"models":[{"name":"alpha:4b","size_gb":3,"min_ram_gb":8,"blurb":"Small"}],
  "cloud_catalog":[{"id":"vendor/seer","name":"Seer","vision":true},{"id":"vendor/plain","name":"Plain"}],
  "featured_cloud":["vendor/plain","vendor/seer"]})";
const QByteArray kTwoInstalled = R"([{"name":"alpha:8b"},{"name":"beta:4b"}])";

// Who sits at the window: what is installed, what the service offers, the account and the key.
struct Setup
{
    QByteArray installed = "[]";
    QByteArray catalog = kFeatured;
    bool signedIn = false;
    QString username = {};
    QString email = {};
    bool hasKey = false;
    QByteArray latestVersion = "0";
    const char *payWith = "credits";
    QByteArray credits = "7.005";
};

// A window's controller with its local server and its service played by one fake server, a fresh
// secret store and fresh preferences.
struct Window
{
    FakeHttpServer server;
    ContentController *content = nullptr;
    QList<QUrl> opened;

    explicit Window(const Setup &setup = {})
    {
        Keychain::useInMemoryStoreForTesting();
        Settings &settings = Settings::shared();
        settings.resetForTesting();
        settings.setPayWith(QString::fromLatin1(setup.payWith));
        if (!setup.username.isEmpty())
            settings.setUsername(setup.username);
        if (!setup.email.isEmpty())
            settings.setEmail(setup.email);
        useService(server.url());
        if (setup.signedIn)
            Keychain::write(QStringLiteral("api_token"), QStringLiteral("tok-1"));
        if (setup.hasKey)
            Keychain::write(Keychain::openRouterKeyItem, QStringLiteral("sk-or-1"));
        server.route("GET", "/api/tags", FakeResponse::json(200, R"({"models":)" + setup.installed + "}"));
        server.route("GET", "/api/v1/recommended_models", FakeResponse::json(200, setup.catalog));
        server.route("GET", "/api/v1/favorites", FakeResponse::json(200, R"({"cloud_ids":[]})"));
        server.route("GET", "/api/v1/me", FakeResponse::json(200, R"({"credits":)" + setup.credits + '}'));
        server.route("GET", "/api/app_version",
                     FakeResponse::json(200, R"({"version":")" + setup.latestVersion + "\"}"));
        ContentController::setUrlOpener([this](const QUrl &url) { opened.append(url); });
        content = new ContentController;
        content->session()->client()->setBase(server.url());
    }
    ~Window() { delete content; }

    bool appear()
    {
        QSignalSpy appeared(content, &ContentController::appeared);
        QSignalSpy updateChecked(content, &ContentController::updateChecked);
        content->appear();
        return appeared.wait(20000) && (!updateChecked.isEmpty() || updateChecked.wait(20000));
    }
};

// The rows' roles, joined by spaces; the rows joined by '|'.
QString rows(const RowsModel *model, const QByteArrayList &roles = {"label"})
{
    QStringList rows;
    for (int row = 0; row < model->count(); ++row) {
        QStringList values;
        for (const QByteArray &role : roles)
            values.append(model->value(row, role).toString());
        rows.append(values.join(' '));
    }
    return rows.join('|');
}
} // namespace

Q_DECLARE_METATYPE(Setup)

class TestContentController : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private Q_SLOTS:
    // After start-up: whether the controls or the onboarding show, the picker's sections, the
    // menu's items, the payment line (nothing for a local model, else the balance in whole cents
    // or a warning when paying by a key not saved) and who drawings are published as (footer|
    // prompt header); '|' parts items.
    void theSidebarFollowsTheUser_data()
    {
        columns<Setup, bool, QString, QString, QString, QString>("setup", "canDraw", "picker", "menu",
                                                                 "payment", "names");
        const auto row = [](const char *tag, const Setup &setup, bool canDraw, const QString &picker,
                            const QString &menu, const char *payment,
                            const char *names = "Publishing as you|Prompt") {
            QTest::newRow(tag) << setup << canDraw << picker << menu << QString(payment) << QString(names);
        };
        const QString sheets = "Get more models…|OpenRouter key…|History…|Pause animations|";
        const QString plain = sheets + "|Drawings|Models";
        const QString signedIn = sheets + "|Publish local drawings|Drawings|Models";
        const QString cloud = "Cloud|Plain|Seer";
        row("a newcomer: no balance known", {}, false, "", plain, "");
        row("a local model, signed out", {.installed = kTwoInstalled}, true,
            "On this computer|alpha:8b|beta:4b", plain, "nothing");
        row("only an OpenRouter key still needs the onboarding", {.hasKey = true, .payWith = "key"}, false,
            cloud, plain, "");
        row("signed in with nothing offered",
            {.catalog = R"({"models":[],"cloud_catalog":[{"id":"vendor/seer","name":"Seer"}]})",
             .signedIn = true},
            false, "", signedIn, "nothing");
        row("signed in, known by e-mail only", {.signedIn = true, .email = "ada@example.org"}, true, cloud,
            signedIn, "$7.00", "Publishing as ada@example.org|Prompt");
        row("paying by a key not saved", {.signedIn = true, .payWith = "key"}, true, cloud, signedIn,
            "key warning");
        row("signed in by name, with an update",
            {.installed = R"([{"name":"alpha:8b"}])",
             .signedIn = true,
             .username = "ada",
             .email = "ada@example.org",
             .latestVersion = "99.0"},
            true, "On this computer|alpha:8b|Cloud|Plain|Seer",
            "↑ Update to 99.0||" + sheets + "|My profile (@ada)|Publish local drawings|Drawings|Models",
            "nothing", "Publishing as @ada|@ada");
    }
    void theSidebarFollowsTheUser()
    {
        QFETCH(Setup, setup);
        QFETCH(QString, menu);
        QFETCH(QString, picker);
        Window w(setup);
        QVERIFY(w.appear());
        const ContentController &c = *w.content;
        QTEST(c.canDraw(), "canDraw");
#ifdef Q_OS_MACOS
        picker.replace("On this computer", "On this Mac");
#else
        menu += "||Check for Updates…";
#endif
        QCOMPARE(rows(c.pickerEntries()), picker);
        QCOMPARE(rows(c.menuEntries()), menu);
        // Every key is shown in its menu item; the history's is not Ctrl+Y, which is Redo.
        QCOMPARE(rows(c.menuEntries(), {"shortcut"}).remove('|'),
                 QKeySequence("Ctrl+H").toString(QKeySequence::NativeText));
        QTEST(!c.showPayment() ? "nothing" : c.showKeyWarning() ? "key warning" : c.balanceText(), "payment");
        QTEST(c.footerIdentity() + '|' + c.promptHeader(), "names");
    }

    // "draw" links choose an installed model by family; anything else they might say is ignored
    // or leads to the get-models sheet, and nothing is ever started. (Other hosts: the shell's test.)
    void drawLinks_data()
    {
        columns<QByteArray, QString, QString, bool>("installed", "url", "selected", "sheet");
        const QByteArray installed = R"([{"name":"beta:4b","capabilities":[]},{"name":"alpha:8b"},
            {"name":"beta:1b","capabilities":[]},{"name":"::","capabilities":[]}])";
        const auto row = [&](const char *tag, const char *query, const char *selected, bool sheet) {
            QTest::newRow(tag) << installed << QStringLiteral("dravlin-mac://") + query << QString(selected)
                               << sheet;
        };
        row("family match, first in list order", "draw?model=beta", "beta:1b", false);
        row("first model item counts", "draw?model=beta&model=alpha", "beta:1b", false);
        row("full name with tag", "draw?model=beta:4b", "alpha:8b", true);
        row("only colons never match", "draw?model=::", "alpha:8b", true);
        row("no model item", "draw?size=2", "alpha:8b", false);
        QTest::newRow("nothing installed") << QByteArray("[]") << "dravlin-mac://draw?model=beta"
                                           << "vendor/plain" << true;
    }
    void drawLinks()
    {
        QFETCH(QByteArray, installed);
        QFETCH(QString, url);
        Window w({.installed = installed});
        QVERIFY(w.appear());
        w.content->handleOpenURL(QUrl(url));
        QTEST(w.content->session()->catalog()->selectedModel(), "selected");
        QTEST(w.content->showGetModels(), "sheet");
        QVERIFY(!w.content->session()->running());
    }

    // Web pages open below the service's address, each segment staying one segment; only web
    // addresses are ever handed to the browser.
    void openingAddresses()
    {
        Window w({.installed = R"([{"name":"a:1"}])", .signedIn = true, .username = "x/y?z"});
        QVERIFY(w.appear());
        w.content->activateMenuEntry(QStringLiteral("profile"));
        for (const char *bad :
             {"file:///etc/passwd", "javascript:alert(1)", "dravlin-mac://draw?model=a", ""})
            w.content->openLink(QUrl(QString::fromLatin1(bad)));
        w.content->openLink(QUrl(QStringLiteral("http://x.example/d/1")));
        QCOMPARE(QUrl::toStringList(w.opened, QUrl::FullyEncoded),
                 (QStringList{w.server.url().toString() + "/@x%2Fy%3Fz", "http://x.example/d/1"}));
        w.content->activateMenuEntry(QStringLiteral("publishLocal"));
        QVERIFY(!w.content->session()->publishLocal());
        // Stillness is a choice shown in the menu, and kept for the next window.
        w.content->activateMenuEntry(QStringLiteral("pauseAnimations"));
        QVERIFY(w.content->session()->canvas()->animationsPaused());
        QVERIFY(rows(w.content->menuEntries(), {"label", "chosen"}).contains("Pause animations true"));
        QVERIFY(ContentController().session()->canvas()->animationsPaused());
        w.content->activateMenuEntry(QStringLiteral("pauseAnimations"));
        QVERIFY(!ContentController().session()->canvas()->animationsPaused());
    }

    // Sizes, elapsed times, the Draw button and the picture picker's formats, at their edges.
    void labels_data()
    {
        columns<QString, QString>("actual", "expected");
        const auto row = [](const char *tag, const QString &actual, const char *expected) {
            QTest::newRow(tag) << actual << QString(expected);
        };
        const auto draw = [](const QString &prompt, const QString &model) {
            return QString(Formats::drawEnabled(prompt, model) ? "Draw" : "no Draw");
        };
        const auto offered = [](const QUrl &file) {
            return QString(ContentController::isPickableImage(file) ? "offered" : "not offered");
        };
        row("1023 B", Formats::sizeLabel(QString(1023, 'a')), "1023 B");
        row("1.0 KB", Formats::sizeLabel(QString(1024, 'a')), "1.0 KB");
        row("no megabytes", Formats::sizeLabel(QString(1536000, 'a')), "1500.0 KB");
        row("UTF-8 bytes", Formats::sizeLabel(QString(512, QChar(0xe9))), "1.0 KB");
        row("4 s", Formats::elapsed(4), "");
        row("5 s", Formats::elapsed(5), "5s");
        row("60 s", Formats::elapsed(60), "1m 0s");
        row("125 s", Formats::elapsed(125), "2m 5s");
        row("one local model", Formats::localModelCount(1), "1 local model");
        row("two local models", Formats::localModelCount(2), "2 local models");
        row("spaces and tabs", draw(" \t ", "m:1"), "no Draw");
        row("a line break counts", draw("\n", "m:1"), "Draw");
        row("no model", draw("a fox", ""), "no Draw");
        row("upper-case JPG", offered(QUrl::fromLocalFile("/p/b.JPG")), "offered");
        row("heic", offered(QUrl::fromLocalFile("/p/d.heic")), "not offered");
        row("not a local file", offered(QUrl("https://x.example/a.png")), "not offered");
    }
    void labels()
    {
        QFETCH(QString, actual);
        QTEST(actual, "expected");
    }

    // An image by hand, pasted or dropped, is taken as a chosen file would be, and only for a model
    // that sees images: a picture on the clipboard is kept as PNG, a file by its kind; text, a
    // file that is no picture, or a model without eyes leave the reference as it was.
    void anImageByHand_data()
    {
        // what: "picture", "file", "text file", "text" or "web"; taken: the media type, empty when refused.
        columns<QString, QString, QString>("model", "what", "taken");
        const auto row = [](const char *tag, const char *model, const char *what, const char *taken) {
            QTest::newRow(tag) << QString(model) << QString(what) << QString(taken);
        };
        row("a pasted picture", "seer:1b", "picture", "image/png");
        row("a dropped file", "seer:1b", "file", "image/jpeg");
        row("a text file named .jpg", "seer:1b", "text file", "");
        row("text", "seer:1b", "text", "");
        row("a web address", "seer:1b", "web", "");
        row("a model without eyes", "plain:1b", "picture", "");
    }
    void anImageByHand()
    {
        QFETCH(QString, model);
        QFETCH(QString, what);
        QFETCH(QString, taken);
        Window w({.installed =
                      R"([{"name":"seer:1b","capabilities":["completion","vision"]},{"name":"plain:1b"}])"});
        QVERIFY(w.appear());
        w.content->session()->catalog()->setSelectedModel(model);
        QTemporaryDir dir;
        QImage picture(6, 4, QImage::Format_RGB32);
        picture.fill(Qt::red);
        const QString photo = dir.filePath("photo.jpg");
        QVERIFY(picture.save(photo, "JPEG"));
        const QString fake = dir.filePath("fake.jpg");
        QFile text(fake);
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a picture") > 0);
        text.close();

        QMimeData data;
        if (what == "picture")
            data.setImageData(picture);
        else if (what == "file")
            data.setUrls({QUrl::fromLocalFile(photo)});
        else if (what == "text file")
            data.setUrls({QUrl::fromLocalFile(fake)});
        else if (what == "web")
            data.setUrls({QUrl("https://example.com/a.png")});
        else
            data.setText("a fox");
        QCOMPARE(w.content->takeImage(&data), !taken.isEmpty());
        DrawSession *session = w.content->session();
        QCOMPARE(session->reference()->attached(), !taken.isEmpty());
        if (!taken.isEmpty())
            QCOMPARE(session->reference()->data()->contentType, taken);
        if (what == "file")
            QVERIFY(w.content->dropImage(data.urls()));
    }

    // The picker from the keyboard: the arrows, Home and End move over models only, never onto a
    // heading, and stop at the ends; typing jumps to the next name that starts so (round to the
    // top), more letters refining the current one. Rows: 0 "On this computer", 1 alpha:8b,
    // 2 alpha:2b, 3 beta:4b, 4 "Cloud", 5 Plain, 6 Seer.
    void thePickerFromTheKeyboard_data()
    {
        columns<int, QString, int>("from", "key", "to");
        const auto row = [](const char *tag, int from, const char *key, int to) {
            QTest::newRow(tag) << from << QString::fromUtf8(key) << to;
        };
        row("down from nothing", -1, "down", 1);
        row("up from nothing", -1, "up", 6);
        row("down over a heading", 3, "down", 5);
        row("up over a heading", 5, "up", 3);
        row("up at the top stays", 1, "up", 1);
        row("down at the end stays", 6, "down", 6);
        row("home", 5, "home", 1);
        row("end", 2, "end", 6);
        row("a letter", 1, "type:b", 3);
        row("upper case", 1, "type:S", 6);
        row("the same letter again goes on", 1, "type:a", 2);
        row("round to the top", 6, "type:a", 1);
        row("more letters keep the row", 2, "type:alpha:2", 2);
        row("more letters find the row", 1, "type:alpha:2", 2);
        row("no match stays", 3, "type:zz", 3);
        row("a heading is no match", 1, "type:cloud", 1);
    }
    void thePickerFromTheKeyboard()
    {
        QFETCH(int, from);
        QFETCH(QString, key);
        QList<std::pair<QString, QString>> entries; // a heading starts with '#'
        for (const QString &row :
             QStringLiteral("#On this computer|alpha:8b|alpha:2b|beta:4b|#Cloud|Plain|Seer").split('|'))
            entries.append(
                {row.startsWith('#') ? "section" : "model", row.startsWith('#') ? row.mid(1) : row});
        const int to = key.startsWith(u"type:") ? ContentController::pickerFind(entries, from, key.mid(5))
                                                : ContentController::pickerStep(entries, from, key);
        QTEST(to, "to");
    }

    // Fed piece by piece, split anywhere (an emoji between its halves too), the transcript shows
    // exactly what the rule gives for the whole answer; a model's thinking shows whole, markers and
    // all, only trimmed.
    void theVisibleNarration_data()
    {
        columns<QString, QString>("narration", "visible");
        const auto row = [](const char *tag, const char *narration, const char *visible) {
            QTest::newRow(tag) << QString::fromUtf8(narration) << QString::fromUtf8(visible);
        };
        row("a sentence then markup", "A tall tower.\n<svg viewBox=\"0 0 9 9\"></svg>", "A tall tower.");
        row("starts with a fence", "```svg\n<svg></svg>```", "");
        row("starts with markup", "<svg><rect/></svg>", "");
        row("fence before svg", "  Plan:\n\n two `ticks`` ok ```xml <svg/>", "Plan:\n\n two `ticks`` ok");
        row("near misses stay", "a <sv g> and <s and ``\t\n", "a <sv g> and <s and ``");
        row("emoji and space before", "🎨 paint  \n <svg", "🎨 paint");
        row("only space", " \n\t ", "");
        row("upper case is not the marker", "Use <SVG> here", "Use <SVG> here");
    }
    void theVisibleNarration()
    {
        QFETCH(QString, narration);
        QFETCH(QString, visible);
        QCOMPARE(VisibleNarration::of(narration), visible);
        for (int size = 1; size <= 4; ++size) {
            for (int offset = 0; offset < size; ++offset) {
                VisibleNarration feed;
                VisibleNarration thinking;
                thinking.setThinking(true);
                for (VisibleNarration *fed : {&feed, &thinking}) {
                    fed->append(QStringView(narration).left(offset));
                    for (qsizetype at = offset; at < narration.size(); at += size)
                        fed->append(QStringView(narration).mid(at, size));
                }
                QCOMPARE(feed.text(), visible);
                QCOMPARE(feed.isEmpty(), visible.isEmpty());
                QCOMPARE(thinking.text(), narration.trimmed());
            }
        }
    }

    // A list told its new rows says only what moved: a row changed in place is one dataChanged, rows
    // that came or went are inserted or removed around those that stayed. Rows are "key=value",
    // what the view hears is "+at-last" (inserted), "-at-last" (removed), "~at" (changed).
    void aListTellsOnlyWhatMoved_data()
    {
        columns<QString, QString, QString>("before", "after", "heard");
        QTest::newRow("a progress tick") << "a=0 b=0 c=0"
                                         << "a=0 b=0.4 c=0"
                                         << "~1";
        QTest::newRow("nothing changed") << "a=0 b=0"
                                         << "a=0 b=0"
                                         << "";
        QTest::newRow("one ends") << "a=0 b=0 c=0"
                                  << "a=0 c=0"
                                  << "-1-1";
        QTest::newRow("one starts") << "a=0 c=0"
                                    << "a=0 b=1 c=0"
                                    << "+1-1";
        QTest::newRow("from none") << ""
                                   << "a=0 b=0"
                                   << "+0-1";
        QTest::newRow("to none") << "a=0 b=0"
                                 << ""
                                 << "-0-1";
        QTest::newRow("replaced between, one changed") << "a=0 b=0 c=0 d=0"
                                                       << "a=1 x=0 d=0"
                                                       << "-1-2 +1-1 ~0";
    }
    void aListTellsOnlyWhatMoved()
    {
        const auto rowsOf = [](const QString &text) {
            QList<QVariantList> rows;
            for (const QString &row : text.split(' ', Qt::SkipEmptyParts))
                rows.append({row.section('=', 0, 0), row.section('=', 1)});
            return rows;
        };
        QFETCH(QString, before);
        QFETCH(QString, after);
        RowsModel model({"key", "value"}, nullptr);
        model.setRows(rowsOf(before));
        QStringList heard;
        connect(&model, &RowsModel::rowsInserted, this, [&](const QModelIndex &, int first, int last) {
            heard << QString("+%1-%2").arg(first).arg(last);
        });
        connect(&model, &RowsModel::rowsRemoved, this, [&](const QModelIndex &, int first, int last) {
            heard << QString("-%1-%2").arg(first).arg(last);
        });
        connect(&model, &RowsModel::dataChanged, this, [&](const QModelIndex &from, const QModelIndex &to) {
            heard << (from == to ? QString("~%1").arg(from.row()) : QStringLiteral("~many"));
        });
        model.setRows(rowsOf(after));
        QTEST(heard.join(' '), "heard");
        QCOMPARE(model.rows(), rowsOf(after));
    }

    // The get-models sheet: recommended models by update date (undated last, ties in catalog
    // order), what each offers on this machine, the cloud search over names and ids, and the
    // removal's question. Downloading and removing through it are the end-to-end test's.
    void theModelsSheet()
    {
        Window w(
            {.installed = R"([{"name":"alpha:8b","size":5046586573},{"name":"beta:1b","size":1073741824}])",
             .catalog = R"({"models":[
          {"name":"old:1b","size_gb":4.7,"min_ram_gb":1,"blurb":"","updated_days":30},
          {"name":"nodate:1b","size_gb":1,"min_ram_gb":1,"blurb":""},
          {"name":"huge:900b","size_gb":500,"min_ram_gb":100000,"blurb":"","updated_days":2,
           "cloud_id":"vendor/huge","display_name":"Huge"},
          {"name":"fresh:2b","size_gb":2.99,"min_ram_gb":1,"blurb":"","updated_days":2,"display_name":""}],
          "cloud_catalog":[{"id":"vendor/huge","name":"Huge Cloud"},{"id":"acme/seer-2","name":"Seer"},
                           {"id":"vendor/plain","name":"Plain"}]})"});
        QVERIFY(w.appear());
        ModelsSheetController sheet;
        sheet.setSession(w.content->session());
        QCOMPARE(rows(sheet.recommendedRows(), {"title", "action", "getLabel"}),
                 "Huge needs Get 500GB|fresh:2b get Get 2GB|old:1b get Get 4GB|nodate:1b get Get 1GB");
        for (const char *huge : {"Needs 100000GB Add cloud", "Needs 100000GB ✓ Cloud"}) {
            QCOMPARE(rows(sheet.recommendedRows(), {"needsLabel", "cloudLabel"}).section('|', 0, 0), huge);
            sheet.session()->catalog()->toggleCloud(QStringLiteral("vendor/huge"));
        }
        QCOMPARE(sheet.totalInstalled() + ": " + rows(sheet.installedRows(), {"name", "size"}),
                 "6GB on disk: alpha:8b 4.7GB|beta:1b 1.0GB");
        for (const auto &[search, expected] :
             {std::pair{" \t ", "Huge Cloud|Seer|Plain"}, {"  SEER\t", "Seer"}, {"ACME/", "Seer"}}) {
            sheet.setSearch(QString::fromLatin1(search));
            QCOMPARE(rows(sheet.cloudResults(), {"name"}), QString::fromLatin1(expected));
        }
        QCOMPARE(sheet.searchPlaceholder(), "Search 3 cloud models…");

        sheet.requestRemove(QStringLiteral("alpha:8b"));
        QCOMPARE(sheet.removalTitle(), "Remove alpha:8b? Frees 4.7GB — you can always re-download it.");
        sheet.cancelRemove();
        QVERIFY(sheet.confirmingRemove().isEmpty());
    }

    // The cloud tab says why it is empty: a catalog that could not be loaded offers a retry,
    // whoever is signed in; an empty one asks a signed-out user to sign in. A retry that works
    // fills the tab.
    void anEmptyCloudTabSaysWhy_data()
    {
        columns<QByteArray, bool, QString>("catalog", "signedIn", "note"); // catalog null: answered 500
        const QByteArray none = R"({"models":[],"cloud_catalog":[]})";
        const QString failed = QStringLiteral("The cloud models couldn't be loaded.");
        QTest::newRow("signed in, failed") << QByteArray() << true << failed;
        QTest::newRow("signed out, failed") << QByteArray() << false << failed;
        QTest::newRow("signed in, none offered") << none << true << "No cloud models are offered right now.";
        QTest::newRow("signed out, none offered") << none << false << "Sign in to browse cloud models.";
        QTest::newRow("offered") << kFeatured << true << "";
    }
    void anEmptyCloudTabSaysWhy()
    {
        QFETCH(QByteArray, catalog);
        QFETCH(bool, signedIn);
        Window w({.catalog = catalog.isNull() ? QByteArray("{}") : catalog, .signedIn = signedIn});
        if (catalog.isNull())
            w.server.route("GET", "/api/v1/recommended_models", FakeResponse::json(500, "{}"));
        QVERIFY(w.appear());
        ModelsSheetController sheet;
        sheet.setSession(w.content->session());
        QTEST(sheet.catalogNote(), "note");
        QCOMPARE(sheet.catalogRetry(), catalog.isNull());
        if (!catalog.isNull())
            return;
        w.server.route("GET", "/api/v1/recommended_models", FakeResponse::json(200, kFeatured));
        QSignalSpy changed(&sheet, &ModelsSheetController::cloudResultsChanged);
        sheet.session()->catalog()->refreshRecommended();
        QTRY_VERIFY(!sheet.catalogEmpty());
        QVERIFY(sheet.catalogNote().isEmpty() && !sheet.catalogRetry() && !changed.isEmpty());
    }
};

QTEST_MAIN(TestContentController)
#include "tst_contentcontroller.moc"
