#pragma once

#include <QByteArray>
#include <QDir>
#include <QStandardPaths>
#include <QtGlobal>

#include <cstdlib>

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
    }
    QStandardPaths::setTestModeEnabled(true);
}

// QTEST_MAIN with an isolated home. QtTest calls initMain() before the application exists.
#define DRAVLIN_TEST_INIT_MAIN                                                                               \
    static void initMain()                                                                                   \
    {                                                                                                        \
        isolateTestEnvironment();                                                                            \
    }
