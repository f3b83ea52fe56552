#include "accessiblecontrols.h"
#include "account/keychain.h"
#include "account/preferences.h"
#include "account/serviceclient.h"
#include "app/dravlinapp.h"
#include "app/singleinstance.h"
#include "fakehttpserver.h"
#include "session/drawsession.h"
#include "testenvironment.h"
#include "ui/contentcontroller.h"

#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

class TestAppShell : public QObject
{
    Q_OBJECT

public:
    static void initMain()
    {
        isolateTestEnvironment();
        QtWebEngineQuick::initialize();
    }

private slots:
    void init()
    {
        Keychain::useInMemoryStoreForTesting();
        Preferences::setValue(QStringLiteral("DravlinBaseURL"), m_server.url().toString());
        ServiceClient::resetBaseURLForTesting();
        // Every window the shell opens finds its local server here, as a demo's would.
        qputenv("DRAVLIN_OLLAMA_URL", m_server.url().toEncoded());
        m_server.route("GET", "/api/tags",
                       FakeResponse::json(200, R"({"models":[{"name":"alpha:8b"},{"name":"beta:4b"}]})"));
        m_server.route("GET", "/api/v1/recommended_models", FakeResponse::json(200, R"({"models":[]})"));
        m_opened.clear();
        ContentController::setUrlOpener([this](const QUrl &url) { m_opened.append(url); });
    }

    // Each window has its own session; links of our scheme go to the frontmost window (their
    // rules are the controller's test's), one that opens a window waits there until its models are
    // known, and a closed window is gone.
    void windowsAndTheirLinks()
    {
        DravlinApp app;
        QQuickWindow *first = app.openWindow();
        QQuickWindow *second = app.openWindow();
        QVERIFY(first && second);
        ContentController *one = contentOf(first);
        ContentController *two = contentOf(second);
        QVERIFY(one && two && one->session() != two->session() && one->account() != two->account());
        QTRY_COMPARE(one->session()->models().size(), 2);
        QTRY_COMPARE(two->session()->models().size(), 2);
        QCOMPARE(app.windows().first(), second);

        app.openURL(QUrl(QStringLiteral("https://dravlin.example/draw?model=beta")));
        QCOMPARE(two->session()->selectedModel(), QStringLiteral("alpha:8b"));
        app.openURL(QUrl(QStringLiteral("dravlin-mac://draw?model=beta")));
        QCOMPARE(two->session()->selectedModel(), QStringLiteral("beta:4b"));
        QCOMPARE(one->session()->selectedModel(), QStringLiteral("alpha:8b"));

        QQuickWindow *third = app.openWindow();
        app.openURL(QUrl(QStringLiteral("dravlin-mac://draw?model=beta")));
        QTRY_COMPARE(contentOf(third)->session()->selectedModel(), QStringLiteral("beta:4b"));
        QVERIFY(!contentOf(third)->showGetModels());

        QSignalSpy gone(second, &QObject::destroyed);
        second->close();
        QVERIFY(gone.wait());
        QCOMPARE(app.windows(), (QList<QQuickWindow *>{third, first}));
    }

    // A later launch hands its links to the running app; without links it asks for a window.
    void aSecondLaunchForwards()
    {
        const QString name = QStringLiteral("dravlin-test-%1").arg(QCoreApplication::applicationPid());
        SingleInstance running(name);
        SingleInstance later(name);
        QVERIFY(!later.forwardToRunning({}));
        QVERIFY(running.listen());
        QSignalSpy launched(&running, &SingleInstance::launched);
        const QList<QUrl> links{QUrl(QStringLiteral("dravlin-mac://draw?model=a%20b")),
                                QUrl(QStringLiteral("dravlin-mac://draw?model=c"))};
        QVERIFY(later.forwardToRunning(links));
        QVERIFY(launched.wait());
        QCOMPARE(launched.takeFirst().first().value<QList<QUrl>>(), links);
        QVERIFY(later.forwardToRunning({}));
        QVERIFY(launched.wait());
        QVERIFY(launched.takeFirst().first().value<QList<QUrl>>().isEmpty());
    }

    // The interactive check answers in an alert of its own, whatever windows are open.
    void theUpdateAlert_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("opensDownload");
        QTest::newRow("newer") << QByteArray("{\"version\":\"2.0\",\"url\":\"https://dl.example/d\"}")
                               << "Dravlin 2.0 is available" << true;
        QTest::newRow("up to date") << QByteArray(R"({"version":"1.0"})") << "You're up to date" << false;
        QTest::newRow("failed") << QByteArray("Service Unavailable") << "Couldn't check for updates" << false;
    }
    void theUpdateAlert()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        m_server.route("GET", "/api/app_version", FakeResponse::json(503, reply));
        DravlinApp app;
        QSignalSpy shown(&app, &DravlinApp::updateAlertShown);
        app.checkForUpdates(QStringLiteral("1.0"));
        QVERIFY(shown.wait());
        auto *alert = qobject_cast<QQuickWindow *>(shown.first().first().value<QObject *>());
        QVERIFY(alert);
        QCOMPARE(alert->property("message").toString(), message);
        QTRY_VERIFY(alert->isExposed());
        screenshot(alert, QStringLiteral("update-alert-") + QString::fromLatin1(QTest::currentDataTag()));
        QSignalSpy closed(alert, &QObject::destroyed);
        QMetaObject::invokeMethod(alert, "choose", Q_ARG(QVariant, 0));
        QVERIFY(closed.wait());
        QFETCH(bool, opensDownload);
        QCOMPARE(m_opened,
                 opensDownload ? QList<QUrl>{QUrl(QStringLiteral("https://dl.example/d"))} : QList<QUrl>{});
    }

private:
    FakeHttpServer m_server;
    QList<QUrl> m_opened;
};

QTEST_MAIN(TestAppShell)
#include "tst_appshell.moc"
