#include "session/referenceimage.h"

#include <QCoreApplication>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

namespace {

quint32 bigEndian32(const QByteArray &bytes, qsizetype at)
{
    return (quint32(quint8(bytes[at])) << 24) | (quint32(quint8(bytes[at + 1])) << 16) |
           (quint32(quint8(bytes[at + 2])) << 8) | quint32(quint8(bytes[at + 3]));
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(92);
    return writer.write(image) ? bytes : QByteArray();
}

} // namespace

QByteArray ReferenceImage::withoutJpegMetadata(const QByteArray &jpeg)
{
    if (!jpeg.startsWith("\xFF\xD8"))
        return {};
    QByteArray kept = jpeg.left(2);
    qsizetype at = 2;
    while (at + 4 <= jpeg.size()) {
        if (quint8(jpeg[at]) != 0xFF)
            return {};
        const quint8 marker = quint8(jpeg[at + 1]);
        // Fill bytes before a marker.
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        // The scan's entropy-coded data and everything after it carry no metadata segments.
        if (marker == 0xDA) {
            kept += jpeg.mid(at);
            return kept;
        }
        const qsizetype length = (qsizetype(quint8(jpeg[at + 2])) << 8) | quint8(jpeg[at + 3]);
        if (length < 2 || at + 2 + length > jpeg.size())
            return {};
        if (marker != 0xE1 && marker != 0xED)
            kept += jpeg.mid(at, 2 + length);
        at += 2 + length;
    }
    return {};
}

QByteArray ReferenceImage::withoutPngMetadata(const QByteArray &png)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!png.startsWith(signature))
        return {};
    QByteArray kept = signature;
    qsizetype at = signature.size();
    while (at + 12 <= png.size()) {
        const quint32 length = bigEndian32(png, at);
        const QByteArray type = png.mid(at + 4, 4);
        if (length > quint32(png.size()) || at + 12 + qsizetype(length) > png.size())
            return {};
        const qsizetype whole = 12 + qsizetype(length);
        if (type != "eXIf" && type != "tEXt" && type != "zTXt" && type != "iTXt")
            kept += png.mid(at, whole);
        at += whole;
        if (type == "IEND")
            return kept;
    }
    return {};
}

std::optional<ReferenceImage::Prepared> ReferenceImage::prepare(const QByteArray &bytes, QString *why)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    // Judged by content, not by name: a text file called picture.png is not an image, nor is an
    // SVG or a TIFF.
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QByteArray format = reader.format();
    const bool turned = reader.transformation() != QImageIOHandler::TransformationNone;
    const QImage image = reader.read();
    if (image.isNull()) {
        *why = QCoreApplication::translate("ReferenceImage", "That file couldn't be opened as an image.");
        return std::nullopt;
    }
    Prepared prepared;
    prepared.image = image;
    if (format == "png") {
        prepared.contentType = QStringLiteral("image/png");
        prepared.bytes = withoutPngMetadata(bytes);
    } else if (format == "jpeg" || format == "jpg") {
        prepared.contentType = QStringLiteral("image/jpeg");
        // A photo the camera held sideways says so only in the metadata that goes: it is sent
        // turned the right way instead.
        prepared.bytes = turned ? encoded(image, "jpeg") : withoutJpegMetadata(bytes);
    } else if (format == "gif") {
        prepared.contentType = QStringLiteral("image/gif");
        prepared.bytes = bytes;
    } else if (format == "webp") {
        // Its metadata lives in EXIF and XMP chunks; one that has them is sent as a PNG instead.
        const bool tagged = bytes.indexOf("EXIF", 12) >= 0 || bytes.indexOf("XMP ", 12) >= 0;
        prepared.contentType = tagged ? QStringLiteral("image/png") : QStringLiteral("image/webp");
        prepared.bytes = tagged ? encoded(image, "png") : bytes;
    } else {
        *why = QCoreApplication::translate("ReferenceImage", "Use a PNG, JPEG, GIF or WebP image.");
        return std::nullopt;
    }
    if (prepared.bytes.isEmpty()) {
        *why = QCoreApplication::translate("ReferenceImage", "That file couldn't be opened as an image.");
        return std::nullopt;
    }
    return prepared;
}
