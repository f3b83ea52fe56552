#pragma once

#include "fakehttpserver.h"
#include "recordingview.h"
#include "session/drawsession.h"

#include <QSignalSpy>
#include <QTest>

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
        // Each piece as its own command, so the tests see exactly what the run sent.
        session.canvas()->setFrameIntervalMs(0);
        session.setSelectedModel(QStringLiteral("qwen3:4b"));
    }

    // Starts a run and waits until it has ended.
    bool draw(const QString &prompt = QStringLiteral("a pelican on a bicycle"))
    {
        session.start(prompt);
        if (!session.running())
            return false;
        return waitForEnd();
    }

    bool waitForEnd()
    {
        QSignalSpy running(&session, &DrawSession::runningChanged);
        while (session.running()) {
            if (!running.wait(20000))
                return false;
        }
        return true;
    }

    QStringList deltas() const
    {
        QStringList pieces;
        for (const QString &script : view.scripts) {
            if (script.startsWith(QStringLiteral("window.applyDelta")))
                pieces.append(script);
        }
        return pieces;
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
