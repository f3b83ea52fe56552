#pragma once

#include "account/serviceclient.h"
#include "app/translations.h"
#include "base/settings.h"
#include "canvas/canvascontroller.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <QTest>
#include <QtGlobal>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <cstdlib>
#include <unistd.h>

// Gives a test process a home of its own before anything reads it: preferences, caches and
// the like land in a fresh temporary folder, never in the developer's.
inline void isolateTestEnvironment()
{
    const QByteArray base = QDir::tempPath().toUtf8() + "/dravlin-test-XXXXXX";
    QByteArray pattern = base;
    const char *home = mkdtemp(pattern.data());
    if (home) {
        const QByteArray dir(home);
        qputenv("HOME", dir);
        qputenv("XDG_CONFIG_HOME", dir + "/.config");
        qputenv("XDG_CACHE_HOME", dir + "/.cache");
        qputenv("XDG_DATA_HOME", dir + "/.local/share");
        // The Mac's defaults and Library folders ignore HOME: the app's own override reaches them.
        qputenv("DRAVLIN_HOME", dir + "/dravlin");
    }
    QStandardPaths::setTestModeEnabled(true);
    // The tests compare English texts, whatever the machine's own language: the application
    // installs its catalogue for English (which carries the plural forms) as it starts.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qAddPreRoutine([] { Translations::install(); });
}

// QTEST_MAIN with an isolated home. QtTest calls initMain() before the application exists.
#define DRAVLIN_TEST_INIT_MAIN                                                                               \
    static void initMain()                                                                                   \
    {                                                                                                        \
        isolateTestEnvironment();                                                                            \
    }

// Must run before the application object exists (QtTest's initMain): the web engine is set up
// first, and Chromium's own sandbox cannot start as root (CI machines, containers).
inline void prepareWebEngineForTests()
{
    if (::geteuid() == 0) {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--no-sandbox"))
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + " --no-sandbox");
    }
    CanvasController::prepareEngine();
    QtWebEngineQuick::initialize();
}

// Inside a QtTest class of a test that shows web content: an isolated home, then the engine.
#define DRAVLIN_WEBENGINE_TEST_INIT_MAIN                                                                     \
    static void initMain()                                                                                   \
    {                                                                                                        \
        isolateTestEnvironment();                                                                            \
        prepareWebEngineForTests();                                                                          \
    }

// Declares a table's columns in one go: columns<int, QString>("count", "name").
template<typename... T, typename... Name> void columns(Name... names)
{
    (QTest::addColumn<T>(names), ...);
}

// Points every client of the service at base from now on.
inline void useService(const QUrl &base)
{
    Settings::shared().setServiceBaseURL(base.toString());
    ServiceClient::resetBaseURLForTesting();
}
