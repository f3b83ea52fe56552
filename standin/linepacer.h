#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>

class HttpResponder;

// Writes prepared lines to a streamed answer at a steady pace: as many lines per tick as the pace
// has made due, in chunks cut at arbitrary bytes (a line often straddles two chunks, as it does
// from a real server). A child of the responder, so it stops when the client goes away.
class LinePacer : public QObject
{
    Q_OBJECT

public:
    // atEnd runs once after the last line has been written; it decides how the answer ends.
    LinePacer(HttpResponder *responder, QList<QByteArray> lines, double linesPerSecond,
              std::function<void()> atEnd);

private:
    void tick();

    HttpResponder *m_responder;
    QList<QByteArray> m_lines;
    double m_linesPerSecond;
    std::function<void()> m_atEnd;
    qsizetype m_sent = 0;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
