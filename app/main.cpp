#include "app/dravlinapp.h"
#include "app/singleinstance.h"
#include "app/translations.h"

#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(DravlinPlugin)

int main(int argc, char *argv[])
{
    DravlinApp::prepareProcess();
    QGuiApplication application(argc, argv);

    // The command line carries nothing but links of our own scheme, from the desktop's handler.
    QList<QUrl> links;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (const QString &argument : arguments) {
        const QUrl url(argument, QUrl::StrictMode);
        if (DravlinApp::isOwnLink(url))
            links.append(url);
    }

    SingleInstance instance(SingleInstance::defaultName());
    if (instance.forwardToRunning(links))
        return 0;
    instance.listen();
    Translations::install();

    DravlinApp app;
    QObject::connect(&instance, &SingleInstance::launched, &app, [&app](const QList<QUrl> &urls) {
        if (urls.isEmpty()) {
            app.openWindow();
            return;
        }
        for (const QUrl &url : urls)
            app.openURL(url);
    });
    if (!app.openWindow())
        return 1;
    for (const QUrl &url : std::as_const(links))
        app.openURL(url);
    return QGuiApplication::exec();
}
