#include "session/referenceattachment.h"

#include "base/logging.h"
#include "session/referenceimage.h"

#include <QBuffer>
#include <QFile>

#include <algorithm>

namespace {
constexpr int kPreviewSide = 512;

// A PNG of the picture no larger than the view needs, as a data URL: a URL of the whole file would
// be megabytes of text to rebuild and to decode.
QUrl previewSource(const QImage &image)
{
    const QImage preview =
        (image.width() > kPreviewSide || image.height() > kPreviewSide)
            ? image.scaled(kPreviewSide, kPreviewSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : image;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    preview.save(&buffer, "PNG");
    return QUrl(QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64()));
}
} // namespace

bool ReferenceAttachment::attach(const QUrl &fileUrl)
{
    if (!fileUrl.isLocalFile())
        return false;
    return attachFile(fileUrl.toLocalFile());
}

bool ReferenceAttachment::attachFile(const QString &path)
{
    QFile file(path);
    // Never more than one byte past the limit, whatever size the file claims to have: a device or
    // a pipe has none.
    const qint64 readLimit = kMaxBytes + 1;
    const QByteArray bytes =
        file.open(QIODevice::ReadOnly)
            ? file.read(file.isSequential() ? readLimit : std::min(file.size() + 1, readLimit))
            : QByteArray();
    return attachBytes(bytes);
}

bool ReferenceAttachment::attachBytes(const QByteArray &bytes)
{
    if (bytes.size() > kMaxBytes) {
        setError(tr("That image is larger than 20 MB. Choose a smaller one."));
        return false;
    }
    QString why;
    const std::optional<ReferenceImage::Prepared> prepared = ReferenceImage::prepare(bytes, &why);
    if (!prepared) {
        setError(why);
        return false;
    }
    m_data = ReferenceData{QString::fromLatin1(prepared->bytes.toBase64()), prepared->contentType};
    m_source = previewSource(prepared->image);
    setError(QString());
    Q_EMIT changed();
    return true;
}

void ReferenceAttachment::clear()
{
    setError(QString());
    if (!m_data)
        return;
    m_data.reset();
    m_source = QUrl();
    Q_EMIT changed();
}

void ReferenceAttachment::setError(const QString &error)
{
    if (m_error == error)
        return;
    m_error = error;
    if (!error.isEmpty())
        qCWarning(lcSession).noquote() << "an image was not attached:" << error;
    Q_EMIT errorChanged();
}
