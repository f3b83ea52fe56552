#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// A reference image as it leaves the machine: its type read from its own bytes (never from its
// name), only the kinds every vision model takes, and without the metadata a camera writes into
// it (where the photo was taken, the device, the owner's name).
namespace ReferenceImage {

struct Prepared
{
    QByteArray bytes;
    QString contentType; // image/png, image/jpeg, image/gif or image/webp
    QImage image;        // decoded, turned the way the camera held it
};

// The image to send, or nothing with why set to what the user is told.
std::optional<Prepared> prepare(const QByteArray &bytes, QString *why);

// The bytes without metadata segments or chunks, the pixels untouched: JPEG's APP1 (Exif, XMP)
// and APP13 (Photoshop) segments, PNG's eXIf and text chunks. Anything it cannot walk whole comes
// back empty.
QByteArray withoutJpegMetadata(const QByteArray &jpeg);
QByteArray withoutPngMetadata(const QByteArray &png);

} // namespace ReferenceImage
