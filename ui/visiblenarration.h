#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickTextDocument>
#include <QString>
#include <QTextDocument>
#include <QtQml/qqmlregistration.h>

class DrawSession;

// The part of a run's narration the transcript shows. Of the answer, the text before the first
// "```" and before the first "<svg", trimmed; of the thinking, all of it, trimmed: a model that
// plans aloud mentions "<svg>" long before it writes one. The narration grows by a few characters per
// streamed piece, so this is kept incrementally: each piece costs in proportion to itself, never to the text
// so far, and it reaches the transcript's text document as an insertion at the end, which the text item lays
// out one paragraph at a time instead of re-shaping everything.
class VisibleNarration : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(DrawSession *session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(QQuickTextDocument *target READ target WRITE setTarget NOTIFY targetChanged)
    Q_PROPERTY(bool empty READ isEmpty NOTIFY emptyChanged)
    // Which part of the session's narration this shows: its thinking, or (by default) its answer.
    Q_PROPERTY(bool thinking READ thinking WRITE setThinking NOTIFY thinkingChanged)

public:
    explicit VisibleNarration(QObject *parent = nullptr);

    // The rule applied to a whole answer at once.
    static QString of(const QString &narration);

    DrawSession *session() const { return m_session; }
    void setSession(DrawSession *session);
    bool thinking() const { return m_thinking; }
    void setThinking(bool thinking);
    QQuickTextDocument *target() const { return m_target; }
    void setTarget(QQuickTextDocument *target);
    // nullptr goes back to a document of its own.
    void setDocument(QTextDocument *document);

    // Feeding by hand (the session does it through its narration otherwise).
    void append(QStringView piece);
    void clear();

    bool isEmpty() const { return m_shown == 0; }
    // What the document shows.
    QString text() const;

Q_SIGNALS:
    void sessionChanged();
    void thinkingChanged();
    void targetChanged();
    void emptyChanged();

private:
    QTextDocument *doc() { return m_document ? m_document.data() : &m_ownDocument; }
    const QTextDocument *doc() const { return m_document ? m_document.data() : &m_ownDocument; }
    void follow();
    void attach();
    void removeLast(qsizetype count);
    void trimShownEnd();

    QPointer<DrawSession> m_session;
    QMetaObject::Connection m_connection;
    QPointer<QQuickTextDocument> m_target;
    // The text item's document, or one of our own while there is none.
    QTextDocument m_ownDocument;
    QPointer<QTextDocument> m_document;
    qsizetype m_consumed = 0;
    // Characters in the document; white space after them waits until more text follows it.
    qsizetype m_shown = 0;
    QString m_pendingSpace;
    // The last characters seen, enough to spot a marker split across pieces.
    QString m_tail;
    bool m_frozen = false;
    bool m_thinking = false;
};
