#pragma once

#include "account/dravlinaccount.h"
#include "fakehttpserver.h"
#include "modelsharness.h"
#include "recordingview.h"
#include "session/drawsession.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

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

// A session wired to a fake local server and a recording canvas.
struct SessionHarness
{
    FakeHttpServer server;
    DrawSession session;
    RecordingView view;

    SessionHarness()
    {
        session.client()->setBase(server.url());
        session.canvas()->setWebView(&view);
        view.answerTo = session.canvas();
        // Each piece as its own command, so the tests see exactly what the run sent.
        session.canvas()->setFrameIntervalMs(0);
        session.setSelectedModel(QStringLiteral("qwen3:4b"));
    }

    bool draw(const QString &prompt = QStringLiteral("a pelican on a bicycle"))
    {
        return drawAndWait(&session, prompt);
    }
};

// A window's session: one fake server answers for the local model server and the service, the
// account is signed in or out from the start, and the canvas records every command on its own.
struct WindowSession : ModelsHarness
{
    RecordingView view;
    DravlinAccount *account = nullptr;

    explicit WindowSession(bool signedIn = false, int installPollMs = 5000) : ModelsHarness(installPollMs)
    {
        if (signedIn)
            Keychain::set(Keychain::apiTokenItem, QStringLiteral("tok-1"));
        Preferences::remove(QStringLiteral("DravlinPayWith"));
        Preferences::remove(QStringLiteral("DravlinPublishLocal"));
        account = new DravlinAccount;
        session->setAccount(account);
        session->canvas()->setWebView(&view);
        view.answerTo = session->canvas();
        session->canvas()->setFrameIntervalMs(0);
        session->setSelectedModel(QStringLiteral("qwen3:4b"));
    }
    ~WindowSession()
    {
        delete session;
        session = nullptr;
        delete account;
    }

    bool draw(const QString &prompt = QStringLiteral("a heron")) { return drawAndWait(session, prompt); }

    // The last request to path, or an empty one.
    RecordedRequest sent(const QByteArray &path) const
    {
        const QList<RecordedRequest> all = server.requests();
        const auto it =
            std::find_if(all.crbegin(), all.crend(), [&](const auto &r) { return r.path == path; });
        return it == all.crend() ? RecordedRequest() : *it;
    }
};

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
