#include "app/dravlinapp.h"

#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(DravlinPlugin)

int main(int argc, char *argv[])
{
    DravlinApp::prepareProcess();
    QGuiApplication application(argc, argv);
    DravlinApp app;
    if (!app.openWindow())
        return 1;
    return QGuiApplication::exec();
}
