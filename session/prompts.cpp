#include "session/prompts.h"

#include <QFileInfo>
#include <QJsonObject>

namespace {
// Kept as UTF-16 literals so the em dashes are exact whatever the source encoding is taken to be.
const char16_t kDrawPrompt[] =
    u"You are a meticulous SVG illustrator, drawing live for an audience.\n"
    u"\n"
    u"First, think out loud: briefly plan the composition and narrate choices, in a natural human voice "
    u"(\"the pelican's beak should hook downward\", \"add spokes? yes\", \"small fish in the basket? no\"). "
    u"Keep this planning SHORT \u2014 a few sentences, not paragraphs.\n"
    u"\n"
    u"Then output ONE self-contained SVG that draws the requested subject:\n"
    u"- A single <svg> element with a viewBox (e.g. viewBox=\"0 0 400 300\"). Do NOT put width/height "
    u"attributes on it.\n"
    u"- Build the picture from clean vector shapes: <path>, <circle>, <ellipse>, <rect>, <polygon>, <line>, "
    u"<polyline>, grouped with <g> where helpful.\n"
    u"- Use fills and strokes freely. Order elements back-to-front (background first, main subject next, "
    u"details last) \u2014 they are revealed in that order.\n"
    u"- Self-contained only: no external references, no <script>, no <image>, no CSS classes.\n"
    u"- Put the final SVG last as raw markup (a ```svg code block is fine).\n"
    u"\n"
    u"CRITICAL: Your response MUST end with the complete <svg>...</svg>. Do not stop after planning. Do not "
    u"run long on planning and leave the drawing unfinished. The SVG is the whole point \u2014 always finish "
    u"it.\n"
    u"\n"
    u"Draw the subject recognizably and with character.";

const char16_t kRecreatePrompt[] =
    u"You are a meticulous SVG illustrator recreating a reference image the user provides.\n"
    u"\n"
    u"First, think out loud briefly: describe what you see and how you'll rebuild it \u2014 the composition, "
    u"main shapes, and colors. Keep this SHORT.\n"
    u"\n"
    u"Then output ONE self-contained SVG that recreates the image as closely as you can:\n"
    u"- A single <svg> with a viewBox matching the image's aspect ratio. No width/height attributes.\n"
    u"- Clean vector shapes (<path>, <circle>, <ellipse>, <rect>, <polygon>, <line>), grouped with <g>. Use "
    u"fills, strokes, and gradients to match the colors.\n"
    u"- Order elements back-to-front (background first). Self-contained only: no external refs, <script>, "
    u"<image>, or CSS classes.\n"
    u"- Put the final SVG last as raw markup.\n"
    u"\n"
    u"CRITICAL: Your response MUST end with the complete <svg>...</svg>. Always finish it.";

QJsonObject message(const QString &role, const QString &content)
{
    return QJsonObject{{QStringLiteral("role"), role}, {QStringLiteral("content"), content}};
}
} // namespace

QString Prompts::drawSystemPrompt()
{
    return QString::fromUtf16(kDrawPrompt);
}

QString Prompts::recreateSystemPrompt()
{
    return QString::fromUtf16(kRecreatePrompt);
}

QJsonArray Prompts::drawMessages(const QString &prompt)
{
    return QJsonArray{
        message(QStringLiteral("system"), drawSystemPrompt()),
        message(QStringLiteral("user"), QStringLiteral("Draw: ") + prompt),
    };
}

QJsonArray Prompts::recreateMessages(const QString &prompt, const ReferenceData &reference)
{
    const QString content = prompt.isEmpty() ? QStringLiteral("Recreate this image as an SVG.")
                                             : QStringLiteral("Recreate this image as an SVG. ") + prompt;
    QJsonObject user = message(QStringLiteral("user"), content);
    user.insert(QStringLiteral("images"), QJsonArray{reference.base64});
    return QJsonArray{message(QStringLiteral("system"), recreateSystemPrompt()), user};
}
