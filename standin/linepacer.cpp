#include "standin/linepacer.h"

#include "standin/httpserver.h"

#include <algorithm>
#include <cmath>

LinePacer::LinePacer(HttpResponder *responder, QList<QByteArray> lines, double linesPerSecond,
                     std::function<void()> atEnd)
    : QObject(responder), m_responder(responder), m_lines(std::move(lines)),
      m_linesPerSecond(std::max(linesPerSecond, 0.1)), m_atEnd(std::move(atEnd))
{
    m_clock.start();
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &LinePacer::tick);
    m_timer.start();
    tick();
}

void LinePacer::tick()
{
    const auto due = qsizetype(std::floor(m_clock.elapsed() / 1000.0 * m_linesPerSecond)) + 1;
    const qsizetype upTo = std::min(due, m_lines.size());
    QByteArray batch;
    for (; m_sent < upTo; ++m_sent)
        batch += m_lines[m_sent] + '\n';
    if (batch.size() > 1) {
        const qsizetype cut = batch.size() / 2 + 1;
        m_responder->write(batch.left(cut));
        m_responder->write(batch.mid(cut));
    } else {
        m_responder->write(batch);
    }
    if (m_sent == m_lines.size()) {
        m_timer.stop();
        if (m_atEnd) {
            auto atEnd = std::move(m_atEnd);
            m_atEnd = nullptr;
            atEnd();
        }
    }
}
