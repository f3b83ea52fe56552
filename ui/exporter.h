#pragma once

#include "canvas/canvascontroller.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <optional>

// Takes the drawing on the canvas out of the app: an SVG or PNG file, or the clipboard. Everything
// comes from the page's sanitized tree (never the model's raw text), so a saved file is as safe to
// open in a browser as the canvas is. One export at a time; the outcome lands in message.
class Exporter : public QObject
{
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(CanvasController *canvas READ canvas WRITE setCanvas NOTIFY canvasChanged)
    // What the drawing was asked for: the default file name is made from it.
    Q_PROPERTY(QString prompt READ prompt WRITE setPrompt NOTIFY promptChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool failed READ failed NOTIFY messageChanged)
    Q_PROPERTY(QUrl lastFolder READ lastFolder NOTIFY lastFolderChanged)

public:
    explicit Exporter(QObject *parent = nullptr);

    CanvasController *canvas() const { return m_canvas; }
    void setCanvas(CanvasController *canvas);
    QString prompt() const { return m_prompt; }
    // Another drawing: the last export's message was about the one before.
    void setPrompt(const QString &prompt);
    bool busy() const { return m_busy; }
    QString message() const { return m_message; }
    bool failed() const { return m_failed; }

    // Where the file dialog opens: the folder of the last export (remembered across runs), or
    // the pictures folder.
    QUrl lastFolder() const;
    // The default file for an export: a slug of the prompt in the last folder.
    Q_INVOKABLE QUrl suggestedFile(const QString &extension) const;

    Q_INVOKABLE void saveSvg(const QUrl &file);
    // scale 1 or 2 of the drawing's own size, or a width in pixels when width > 0.
    Q_INVOKABLE void savePng(const QUrl &file, double scale, int width, bool whiteBackground);
    Q_INVOKABLE void copySvg();
    Q_INVOKABLE void copyImage();

    // "A lighthouse at sunset!" → "a-lighthouse-at-sunset": lower-case letters and digits joined
    // by single hyphens, at most 60 characters, "drawing" when nothing is left.
    static QString slug(const QString &prompt);
    // Writes the whole file or nothing (a temporary file renamed into place); the reason on failure.
    static std::optional<QString> writeAtomically(const QString &path, const QByteArray &bytes);
    // The SVG as a standalone UTF-8 file.
    static QByteArray svgFileBytes(const QString &svg);

Q_SIGNALS:
    void canvasChanged();
    void promptChanged();
    void busyChanged();
    void messageChanged();
    void lastFolderChanged();
    // One export has ended; message says how.
    void finished(bool ok);

private:
    bool begin();
    void end(bool ok, const QString &message);
    void rememberFolder(const QString &path);

    QPointer<CanvasController> m_canvas;
    QString m_prompt;
    bool m_busy = false;
    QString m_message;
    bool m_failed = false;
};
