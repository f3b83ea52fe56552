#include "app/dravlinapp.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QQuickStyle>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

void DravlinApp::prepareProcess()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Dravlin"));
    QCoreApplication::setApplicationName(QStringLiteral("Dravlin"));
    QCoreApplication::setApplicationVersion(version());
    QtWebEngineQuick::initialize();
}

DravlinApp::DravlinApp(QObject *parent) : QObject(parent)
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
}

bool DravlinApp::openWindow()
{
    m_engine.addImportPath(QStringLiteral("qrc:/"));
    const QUrl url(QStringLiteral("qrc:/Dravlin/ui/Main.qml"));
    m_engine.load(url);
    return !m_engine.rootObjects().isEmpty();
}

QString DravlinApp::version()
{
    return QStringLiteral(DRAVLIN_VERSION);
}
