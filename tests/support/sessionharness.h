#pragma once

#include "account/dravlinaccount.h"
#include "account/keychain.h"
#include "fakehttpserver.h"
#include "recordingview.h"
#include "session/drawsession.h"
#include "testenvironment.h"

#include <QSignalSpy>
#include <QTest>

// Waits until the session's run has ended; false when it goes quiet for 20 s.
inline bool runEnds(DrawSession *session)
{
    QSignalSpy running(session, &DrawSession::runningChanged);
    while (session->running()) {
        if (!running.wait(20000))
            return false;
    }
    return true;
}

// Starts a run and waits until it has ended; false when the start was refused.
inline bool drawAndWait(DrawSession *session, const QString &prompt)
{
    session->start(prompt);
    return session->running() && runEnds(session);
}

// Sends the session's canvas commands to view, each piece as its own command, so the tests see
// exactly what the run sent.
inline void recordCanvas(DrawSession *session, RecordingView *view)
{
    session->canvas()->setWebView(view);
    view->answerTo = session->canvas();
    session->canvas()->setFrameIntervalMs(0);
    session->catalog()->setSelectedModel(QStringLiteral("qwen3:4b"));
}

// A session wired to a fake local server and a recording canvas.
struct SessionHarness
{
    FakeHttpServer server;
    DrawSession session;
    RecordingView view;

    SessionHarness()
    {
        session.client()->setBase(server.url());
        recordCanvas(&session, &view);
    }

    bool draw(const QString &prompt = QStringLiteral("a pelican on a bicycle"))
    {
        return drawAndWait(&session, prompt);
    }
};

// A window's session: one fake server answers for the local model server and the service, with
// fresh preferences and an in-memory secret store; the account is signed in or out from the
// start, and the canvas records every command on its own.
struct WindowSession
{
    FakeHttpServer server;
    // The application's downloads, as every window of a test shares them.
    Downloads downloads;
    RecordingView view;
    DrawSession *session = nullptr;
    DravlinAccount *account = nullptr;

    explicit WindowSession(bool signedIn = false, int installPollMs = 5000)
    {
        Keychain::useInMemoryStoreForTesting();
        Settings::shared().resetForTesting();
        useService(server.url());
        downloads.client()->setBase(server.url());
        downloads.setInstallPollIntervalMs(installPollMs);
        session = new DrawSession(&downloads);
        session->client()->setBase(server.url());
        if (signedIn)
            Keychain::write(Keychain::apiTokenItem, QStringLiteral("tok-1"));
        account = new DravlinAccount;
        session->setAccount(account);
        recordCanvas(session, &view);
    }
    ~WindowSession()
    {
        delete session;
        delete account;
    }

    bool draw(const QString &prompt = QStringLiteral("a heron")) { return drawAndWait(session, prompt); }

    void installed(const QByteArray &modelsJson)
    {
        server.route("GET", "/api/tags", FakeResponse::json(200, R"({"models":)" + modelsJson + "}"));
    }

    void catalog(const QByteArray &json)
    {
        server.route("GET", "/api/v1/recommended_models", FakeResponse::json(200, json));
    }

    bool refreshModels()
    {
        QSignalSpy done(session->catalog(), &ModelCatalog::modelsRefreshed);
        session->catalog()->refreshModels();
        return done.wait(20000);
    }

    bool refreshRecommended()
    {
        QSignalSpy done(session->catalog(), &ModelCatalog::recommendedRefreshed);
        session->catalog()->refreshRecommended();
        return done.wait(20000);
    }
};

// The names of models of any kind, in order.
template<typename Models> QStringList names(const Models &models)
{
    QStringList names;
    for (const auto &model : models)
        names.append(model.name);
    return names;
}

// One chat reply line carrying answer text and/or thinking text (JSON-escaped by the caller's
// choice of plain text: pass text without quotes or backslashes, or pre-escaped).
inline QByteArray chatLine(const QByteArray &content, const QByteArray &thinking = QByteArray())
{
    QByteArray line = R"({"model":"qwen3:4b","message":{"role":"assistant","content":")" + content + '"';
    if (!thinking.isNull())
        line += R"(,"thinking":")" + thinking + '"';
    return line + R"(},"done":false})" + '\n';
}

inline QByteArray chatDone()
{
    return R"({"model":"qwen3:4b","message":{"role":"assistant","content":""},"done":true})"
           "\n";
}
