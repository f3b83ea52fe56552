// The stand-ins for the two outside servers the app talks to, for demos and tests:
//   dravlin-standin local   [--port N] [--tokens-per-second R] [--pull-seconds S]
//   dravlin-standin service [--port N] [--tokens-per-second R] [--database FILE] [--credits C]
// Each prints one line, "<role> http://127.0.0.1:<port>", once it listens, then serves until killed.
#include "standin/localmodelserver.h"
#include "standin/serviceserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dravlin-standin"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Stand-ins for the local model server and the Dravlin service."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("role"), QStringLiteral("local or service"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port on 127.0.0.1 (0: any free one)."),
                                  QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption rate(QStringLiteral("tokens-per-second"), QStringLiteral("Pace of a reply."),
                                  QStringLiteral("rate"), QStringLiteral("120"));
    const QCommandLineOption pullSeconds(QStringLiteral("pull-seconds"),
                                         QStringLiteral("Length of a download."), QStringLiteral("seconds"),
                                         QStringLiteral("4"));
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("The service's SQLite file."), QStringLiteral("file"));
    const QCommandLineOption credits(QStringLiteral("credits"),
                                     QStringLiteral("A new account's balance in dollars."),
                                     QStringLiteral("dollars"), QStringLiteral("1"));
    parser.addOptions({port, rate, pullSeconds, database, credits});
    parser.process(app);

    const QString role = parser.positionalArguments().value(0);
    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    const double tokensPerSecond = parser.value(rate).toDouble();
    if (!portOk || portNumber > 65535 || tokensPerSecond <= 0 ||
        (role != QLatin1String("local") && role != QLatin1String("service"))) {
        parser.showHelp(2);
    }

    QUrl url;
    if (role == QLatin1String("local")) {
        LocalModelServer::Options options;
        options.tokensPerSecond = tokensPerSecond;
        options.pullMs = int(parser.value(pullSeconds).toDouble() * 1000);
        auto *server = new LocalModelServer(options, &app);
        server->setLogging(true);
        if (!server->listen(quint16(portNumber))) {
            std::fprintf(stderr, "cannot listen on 127.0.0.1:%u\n", portNumber);
            return 1;
        }
        url = server->url();
    } else {
        ServiceServer::Options options;
        options.tokensPerSecond = tokensPerSecond;
        options.startingCredits = parser.value(credits).toDouble();
        options.databasePath = parser.value(database);
        if (options.databasePath.isEmpty()) {
            const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
            QDir().mkpath(dir);
            options.databasePath = dir + QStringLiteral("/service.sqlite");
        }
        auto *server = new ServiceServer(options, &app);
        server->setLogging(true);
        QString why;
        if (!server->ready(&why)) {
            std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(options.databasePath), qPrintable(why));
            return 1;
        }
        if (!server->listen(quint16(portNumber))) {
            std::fprintf(stderr, "cannot listen on 127.0.0.1:%u\n", portNumber);
            return 1;
        }
        url = server->url();
    }
    std::printf("%s %s\n", qPrintable(role), qPrintable(url.toString()));
    std::fflush(stdout);
    return app.exec();
}
