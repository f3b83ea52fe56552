#pragma once

#include <QJsonArray>
#include <QString>

#include <optional>

// The image attached for a recreate run: the file's bytes in Base64 (no line breaks) and the media
// type chosen from its extension. The bytes are sent as read, never re-encoded.
struct ReferenceData
{
    QString base64;
    QString contentType;

    bool operator==(const ReferenceData &) const = default;
};

// What the local model is told. The wording is tuned: the model narrates briefly, then writes one
// self-contained SVG, back to front, because the canvas reveals elements in the order written.
namespace Prompts {
QString drawSystemPrompt();
QString recreateSystemPrompt();

// The system and user messages of a local run. With a reference (recreate mode) the user message
// carries the image's Base64 text and nothing else about it.
QJsonArray drawMessages(const QString &prompt);
QJsonArray recreateMessages(const QString &prompt, const ReferenceData &reference);

// Media type by the file name's extension, compared in lower case; anything unknown is PNG.
QString contentTypeForFileName(const QString &fileName);
} // namespace Prompts
