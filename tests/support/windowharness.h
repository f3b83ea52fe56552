#pragma once

#include "accessiblecontrols.h"
#include "account/keychain.h"
#include "fakehttpserver.h"
#include "session/drawsession.h"
#include "testenvironment.h"
#include "ui/contentcontroller.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

// The real main window, its local server and its service played by one fake server.
struct WindowHarness
{
    FakeHttpServer server;
    QQmlApplicationEngine engine;
    QQuickWindow *window = nullptr;
    ContentController *content = nullptr;

    WindowHarness()
    {
        Keychain::useInMemoryStoreForTesting();
        useService(server.url());
        ContentController::setUrlOpener([](const QUrl &) {});
        // The window's own start-up reaches the fake server, as a demo's reaches its stand-in.
        qputenv("DRAVLIN_OLLAMA_URL", server.url().toEncoded());
        // The application's downloads outlive every window, and this test's server with them.
        Downloads::shared()->client()->setBase(server.url());
    }
    ~WindowHarness()
    {
        Downloads::shared()->stopAll();
        Downloads::shared()->dismissError();
    }

    bool load()
    {
        engine.addImportPath(QStringLiteral("qrc:/"));
        // The window's controller is made with it, as the application makes it.
        engine.setInitialProperties(
            {{QStringLiteral("content"), QVariant::fromValue(new ContentController(&engine))}});
        engine.load(QUrl(QStringLiteral("qrc:/Dravlin/ui/Main.qml")));
        window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        content = contentOf(window);
        return content != nullptr;
    }

    DrawSession *session() const { return content->session(); }
    void installed(const QByteArray &models)
    {
        server.route("GET", "/api/tags", FakeResponse::json(200, R"({"models":)" + models + '}'));
    }
    bool activate()
    {
        window->requestActivate();
        return QTest::qWaitForWindowActive(window);
    }
    QQuickItem *item(const char *name) const { return window->findChild<QQuickItem *>(QLatin1String(name)); }

    // A recorded reply as chat lines of a few characters each (of thinking, or of the answer),
    // then the final line.
    static QList<QByteArray> chatLines(const QString &reply, int pieceSize, const QString &model,
                                       bool thinking = false)
    {
        QList<QByteArray> lines;
        for (qsizetype at = 0; at < reply.size(); at += pieceSize) {
            QJsonObject message{{QStringLiteral("role"), QStringLiteral("assistant")},
                                {QStringLiteral("content"), thinking ? QString() : reply.mid(at, pieceSize)}};
            if (thinking)
                message.insert(QStringLiteral("thinking"), reply.mid(at, pieceSize));
            lines << QJsonDocument(QJsonObject{{QStringLiteral("model"), model},
                                               {QStringLiteral("message"), message},
                                               {QStringLiteral("done"), false}})
                             .toJson(QJsonDocument::Compact) +
                         '\n';
        }
        lines << R"({"model":")" + model.toUtf8() +
                     R"(","message":{"role":"assistant","content":""},"done_reason":"stop","done":true})" +
                     '\n';
        return lines;
    }

    static QString recordedReply(const QString &name)
    {
        QFile file(QStringLiteral(DRAVLIN_TEST_DATA "/") + name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // With screenshots asked for, settleMs first lets the canvas paint what it has for the picture.
    void screenshot(const QString &name, int settleMs = 0) const
    {
        if (settleMs > 0 && qEnvironmentVariableIsSet("DRAVLIN_SCREENSHOTS"))
            QTest::qWait(settleMs);
        ::screenshot(window, name);
    }
};
