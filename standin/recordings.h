#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One recorded model reply: what the model thought, what it said, and the drawing it wrote.
struct Recording
{
    QString id;
    QString title;
    QStringList keywords;    // lower case; any of them in a prompt picks this reply
    bool recreation = false; // the answer to an attached reference image
    QString thinking;
    QString narration;
    QString svg;

    // The answer as a model writes it: the narration, then the drawing in a fenced block.
    QString answer() const;
};

// The replies shipped with the stand-ins (compiled in, from standin/data/replies).
namespace Recordings {

const QList<Recording> &all();
// The drawing a prompt asks for; a prompt that names none still gets a drawing, always the same
// one for the same prompt.
const Recording &forPrompt(const QString &prompt);
const Recording &recreation();

// Text cut the way a model streams it: short pieces of a few characters, white space kept with
// the word before it, so the pieces join back to the text.
QStringList tokens(const QString &text);

} // namespace Recordings
