#include "ui/exporter.h"

#include "base/logging.h"
#include "base/settings.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
constexpr int kSlugLength = 60;
} // namespace

Exporter::Exporter(QObject *parent) : QObject(parent) {}

void Exporter::setCanvas(CanvasController *canvas)
{
    if (m_canvas == canvas)
        return;
    m_canvas = canvas;
    Q_EMIT canvasChanged();
}

void Exporter::setPrompt(const QString &prompt)
{
    if (m_prompt == prompt)
        return;
    m_prompt = prompt;
    Q_EMIT promptChanged();
    if (!m_message.isEmpty() && !m_busy) {
        m_message.clear();
        m_failed = false;
        Q_EMIT messageChanged();
    }
}

QUrl Exporter::lastFolder() const
{
    const QString stored = Settings::shared().exportFolder();
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return QUrl::fromLocalFile(stored);
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return QUrl::fromLocalFile(QFileInfo(pictures).isDir() ? pictures : QDir::homePath());
}

QUrl Exporter::suggestedFile(const QString &extension) const
{
    return QUrl::fromLocalFile(
        QDir(lastFolder().toLocalFile()).filePath(slug(m_prompt) + QLatin1Char('.') + extension));
}

QString Exporter::slug(const QString &prompt)
{
    QString out;
    bool gap = false;
    // Accents fold to their base letters ("café" → "cafe"); other scripts keep their letters.
    const QString decomposed = prompt.normalized(QString::NormalizationForm_KD);
    for (const QChar c : decomposed) {
        if (c.isLetterOrNumber()) {
            if (gap && !out.isEmpty())
                out += QLatin1Char('-');
            gap = false;
            out += c.toLower();
        } else if (c.category() != QChar::Mark_NonSpacing) {
            gap = true;
        }
        if (out.size() >= kSlugLength)
            break;
    }
    out.truncate(kSlugLength);
    while (out.endsWith(QLatin1Char('-')))
        out.chop(1);
    return out.isEmpty() ? QStringLiteral("drawing") : out;
}

std::optional<QString> Exporter::writeAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

QByteArray Exporter::svgFileBytes(const QString &svg)
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + svg.toUtf8() + '\n';
}

bool Exporter::begin()
{
    if (m_busy)
        return false;
    if (!m_canvas) {
        end(false, tr("There is no drawing to export."));
        return false;
    }
    m_busy = true;
    Q_EMIT busyChanged();
    return true;
}

void Exporter::end(bool ok, const QString &message)
{
    if (m_busy) {
        m_busy = false;
        Q_EMIT busyChanged();
    }
    m_failed = !ok;
    m_message = message;
    if (!ok)
        qCWarning(lcUi).noquote() << message;
    Q_EMIT messageChanged();
    Q_EMIT finished(ok);
}

void Exporter::rememberFolder(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (Settings::shared().exportFolder() == folder)
        return;
    Settings::shared().setExportFolder(folder);
    Q_EMIT lastFolderChanged();
}

void Exporter::saveSvg(const QUrl &file)
{
    if (!file.isLocalFile() || !begin())
        return;
    const QString path = file.toLocalFile();
    m_canvas->requestDrawingSvg(this, [this, path](const QString &svg) {
        if (svg.isEmpty()) {
            end(false, tr("There is no drawing to export."));
            return;
        }
        rememberFolder(path);
        if (const auto error = writeAtomically(path, svgFileBytes(svg)))
            end(false, tr("Could not save %1: %2").arg(QFileInfo(path).fileName(), *error));
        else
            end(true, tr("Saved %1").arg(QFileInfo(path).fileName()));
    });
}

void Exporter::savePng(const QUrl &file, double scale, int width, bool whiteBackground)
{
    if (!file.isLocalFile() || !begin())
        return;
    const QString path = file.toLocalFile();
    m_canvas->requestDrawingPng(
        {scale, width, whiteBackground}, this,
        [this, path](const QByteArray &png, const QString &renderError) {
            if (png.isEmpty()) {
                end(false, renderError);
                return;
            }
            rememberFolder(path);
            if (const auto error = writeAtomically(path, png))
                end(false, tr("Could not save %1: %2").arg(QFileInfo(path).fileName(), *error));
            else
                end(true, tr("Saved %1").arg(QFileInfo(path).fileName()));
        });
}

void Exporter::copySvg()
{
    if (!begin())
        return;
    m_canvas->requestDrawingSvg(this, [this](const QString &svg) {
        if (svg.isEmpty()) {
            end(false, tr("There is no drawing to copy."));
            return;
        }
        auto *data = new QMimeData;
        data->setText(svg);
        data->setData(QStringLiteral("image/svg+xml"), svg.toUtf8());
        QGuiApplication::clipboard()->setMimeData(data);
        end(true, tr("SVG copied"));
    });
}

void Exporter::copyImage()
{
    if (!begin())
        return;
    // Twice the drawing's size on white: what most programs expect when an image is pasted.
    m_canvas->requestDrawingPng({2, 0, true}, this, [this](const QByteArray &png, const QString &error) {
        const QImage image = QImage::fromData(png, "PNG");
        if (image.isNull()) {
            end(false, error.isEmpty() ? tr("The drawing could not be rendered.") : error);
            return;
        }
        QGuiApplication::clipboard()->setImage(image);
        end(true, tr("Image copied"));
    });
}
