#pragma once

#include <QObject>
#include <QQmlApplicationEngine>

// The application shell: prepares the process (web engine, organisation names) and opens windows.
class DravlinApp : public QObject
{
    Q_OBJECT

public:
    // Must run before the QGuiApplication exists: the web engine has to be set up first.
    static void prepareProcess();

    explicit DravlinApp(QObject *parent = nullptr);

    // Opens the main window; false when it could not be created.
    bool openWindow();

    static QString version();

private:
    QQmlApplicationEngine m_engine;
};
