#pragma once

#include <QString>

// The image attached for a recreate run, as both servers take it: the file's bytes in Base64 (no
// line breaks) and the media type chosen from its extension. The bytes are sent as read, never
// re-encoded.
struct ReferenceData
{
    QString base64;
    QString contentType;

    bool operator==(const ReferenceData &) const = default;
};
