#pragma once

#include "net/referencedata.h"

#include <QJsonArray>
#include <QString>

#include <optional>

// What the local model is told. The wording is tuned: the model narrates briefly, then writes one
// self-contained SVG, back to front, because the canvas reveals elements in the order written.
namespace Prompts {
QString drawSystemPrompt();
QString recreateSystemPrompt();

// The system and user messages of a local run. With a reference (recreate mode) the user message
// carries the image's Base64 text and nothing else about it.
QJsonArray drawMessages(const QString &prompt);
QJsonArray recreateMessages(const QString &prompt, const ReferenceData &reference);

} // namespace Prompts
