#include "standin/recordings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing recorded reply %s", qPrintable(path));
    return QString::fromUtf8(file.readAll());
}

// "key: value" lines, then "[thinking]" and "[narration]" sections.
Recording parse(const QString &id, const QString &text, const QString &svg)
{
    Recording recording;
    recording.id = id;
    recording.svg = svg.trimmed();
    QString *section = nullptr;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line == QLatin1String("[thinking]")) {
            section = &recording.thinking;
        } else if (line == QLatin1String("[narration]")) {
            section = &recording.narration;
        } else if (section) {
            *section += line + QLatin1Char('\n');
        } else if (line.startsWith(QLatin1String("title:"))) {
            recording.title = line.mid(6).trimmed();
        } else if (line.startsWith(QLatin1String("keywords:"))) {
            for (const QString &word : line.mid(9).split(QLatin1Char(','), Qt::SkipEmptyParts))
                recording.keywords.append(word.trimmed().toLower());
        } else if (line.trimmed() == QLatin1String("recreation: yes")) {
            recording.recreation = true;
        }
    }
    // A model's thinking ends in a blank line before it starts to answer.
    recording.thinking = recording.thinking.trimmed();
    if (!recording.thinking.isEmpty())
        recording.thinking += QStringLiteral("\n\n");
    recording.narration = recording.narration.trimmed();
    return recording;
}

QList<Recording> load()
{
    QList<Recording> recordings;
    const QDir dir(QStringLiteral(":/standin/replies"));
    const QStringList names = dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        const QString id = name.chopped(4);
        recordings.append(
            parse(id, readText(dir.filePath(name)), readText(dir.filePath(id + QStringLiteral(".svg")))));
    }
    if (recordings.isEmpty())
        qFatal("no recorded replies compiled in");
    return recordings;
}

} // namespace

QString Recording::answer() const
{
    return narration + QStringLiteral("\n\n```svg\n") + svg + QStringLiteral("\n```\n");
}

const QList<Recording> &Recordings::all()
{
    static const QList<Recording> recordings = load();
    return recordings;
}

const Recording &Recordings::forPrompt(const QString &prompt)
{
    const QString text = prompt.toLower();
    QList<const Recording *> drawings;
    for (const Recording &recording : all()) {
        if (recording.recreation)
            continue;
        for (const QString &keyword : recording.keywords) {
            // From the start of a word: a bowl is no owl.
            const QRegularExpression word(QStringLiteral("\\b") + QRegularExpression::escape(keyword));
            if (word.match(text).hasMatch())
                return recording;
        }
        drawings.append(&recording);
    }
    const QByteArray digest = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1);
    return *drawings.at(quint8(digest.at(0)) % drawings.size());
}

const Recording &Recordings::recreation()
{
    for (const Recording &recording : all()) {
        if (recording.recreation)
            return recording;
    }
    return all().first();
}

QStringList Recordings::tokens(const QString &text)
{
    QStringList pieces;
    QString piece;
    for (const QChar c : text) {
        const bool space = c.isSpace();
        if (!piece.isEmpty() && !space && (piece.back().isSpace() || piece.size() >= 5)) {
            pieces.append(piece);
            piece.clear();
        }
        piece += c;
        if (c == QLatin1Char('>') || c == QLatin1Char('\n')) {
            pieces.append(piece);
            piece.clear();
        }
    }
    if (!piece.isEmpty())
        pieces.append(piece);
    return pieces;
}
