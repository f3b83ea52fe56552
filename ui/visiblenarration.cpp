#include "ui/visiblenarration.h"

#include "session/drawsession.h"
#include "session/svgextract.h"

#include <QQuickTextDocument>
#include <QTextCursor>
#include <QTextDocument>

namespace {
const QString kFence = QStringLiteral("```");
const QString kSvg = QStringLiteral("<svg");
} // namespace

VisibleNarration::VisibleNarration(QObject *parent) : QObject(parent) {}

QString VisibleNarration::of(const QString &narration)
{
    return SvgExtract::prose(narration);
}

void VisibleNarration::setSession(DrawSession *session)
{
    if (m_session == session)
        return;
    m_session = session;
    Q_EMIT sessionChanged();
    attach();
}

void VisibleNarration::setThinking(bool thinking)
{
    if (m_thinking == thinking)
        return;
    m_thinking = thinking;
    Q_EMIT thinkingChanged();
    attach();
}

void VisibleNarration::attach()
{
    disconnect(m_connection);
    if (m_session) {
        m_connection =
            connect(m_session, m_thinking ? &DrawSession::thinkingChanged : &DrawSession::answerChanged, this,
                    &VisibleNarration::follow);
    }
    clear();
    follow();
}

void VisibleNarration::setTarget(QQuickTextDocument *target)
{
    if (m_target == target)
        return;
    m_target = target;
    Q_EMIT targetChanged();
    setDocument(target ? target->textDocument() : nullptr);
}

void VisibleNarration::setDocument(QTextDocument *document)
{
    if (m_document)
        m_document->disconnect(this);
    m_document = document;
    if (document) {
        // The text item may go first (its window closing): carry on with a document of our own.
        connect(document, &QObject::destroyed, this, [this] {
            m_document = nullptr;
            clear();
            follow();
        });
    }
    clear();
    follow();
}

QString VisibleNarration::text() const
{
    return doc()->toPlainText();
}

void VisibleNarration::clear()
{
    const bool wasEmpty = isEmpty();
    m_consumed = 0;
    m_shown = 0;
    m_pendingSpace.clear();
    m_tail.clear();
    m_frozen = false;
    doc()->clear();
    if (!wasEmpty)
        Q_EMIT emptyChanged();
}

void VisibleNarration::follow()
{
    if (!m_session)
        return;
    // The text only grows during a run and starts again empty for the next one; the session hands
    // out its own string, so looking at the new end costs nothing.
    const QString narration = m_thinking ? m_session->thinking() : m_session->answer();
    if (narration.size() < m_consumed)
        clear();
    if (narration.size() == m_consumed)
        return;
    append(QStringView(narration).mid(m_consumed));
}

void VisibleNarration::append(QStringView piece)
{
    m_consumed += piece.size();
    if (m_frozen || piece.isEmpty())
        return;
    const bool wasEmpty = isEmpty();
    QString added;
    for (const QChar c : piece) {
        qsizetype marker = 0;
        if (!m_thinking) {
            m_tail.append(c);
            if (m_tail.size() > kSvg.size())
                m_tail.remove(0, 1);
            marker = m_tail.endsWith(kFence) ? kFence.size() : m_tail.endsWith(kSvg) ? kSvg.size() : 0;
        }
        if (marker > 0) {
            // The marker's earlier characters are already shown (they are not white space):
            // take them back, then the white space they leave at the end.
            qsizetype back = marker - 1;
            const qsizetype fromAdded = qMin(back, added.size());
            added.chop(fromAdded);
            back -= fromAdded;
            while (!added.isEmpty() && added.back().isSpace())
                added.chop(1);
            if (!added.isEmpty()) {
                QTextCursor cursor(doc());
                cursor.movePosition(QTextCursor::End);
                cursor.insertText(added);
            }
            m_shown += added.size();
            added.clear();
            removeLast(back);
            trimShownEnd();
            m_pendingSpace.clear();
            m_frozen = true;
            break;
        }
        if (c.isSpace()) {
            if (m_shown + added.size() > 0)
                m_pendingSpace.append(c);
            continue;
        }
        added += m_pendingSpace;
        m_pendingSpace.clear();
        added.append(c);
    }
    if (!added.isEmpty()) {
        QTextCursor cursor(doc());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(added);
        m_shown += added.size();
    }
    if (wasEmpty != isEmpty())
        Q_EMIT emptyChanged();
}

void VisibleNarration::removeLast(qsizetype count)
{
    count = qMin(count, m_shown);
    if (count <= 0)
        return;
    m_shown -= count;
    // Positions, not cursor moves: a move steps over a whole emoji, the count is in UTF-16 units.
    const int end = doc()->characterCount() - 1;
    QTextCursor cursor(doc());
    cursor.setPosition(int(end - count));
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void VisibleNarration::trimShownEnd()
{
    qsizetype spaces = 0;
    const int end = doc()->characterCount() - 1; // the document's own final paragraph mark
    while (spaces < m_shown && doc()->characterAt(int(end - 1 - spaces)).isSpace())
        ++spaces;
    removeLast(spaces);
}
