#pragma once

#include "net/referencedata.h"

#include <QImage>
#include <QObject>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <optional>

// The image a window's next drawing recreates: attached from a file, a drop or a paste, checked
// and cleaned of its metadata once, previewed small.
class ReferenceAttachment : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("A window's session makes its reference.")

    Q_PROPERTY(bool attached READ attached NOTIFY changed)
    // A small preview of the attached image, made once per attachment.
    Q_PROPERTY(QUrl source READ source NOTIFY changed)
    // Why the last attempt to attach an image failed; empty after a success or a removal.
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)

public:
    // Larger files are refused before they are read whole.
    static constexpr qint64 kMaxBytes = 20'000'000;

    explicit ReferenceAttachment(QObject *parent = nullptr) : QObject(parent) {}

    bool attached() const { return m_data.has_value(); }
    QUrl source() const { return m_source; }
    QString error() const { return m_error; }
    // The image as it is sent.
    std::optional<ReferenceData> data() const { return m_data; }

    // Attaches an image read from a local file. A file whose bytes are not an image changes
    // nothing and returns false.
    Q_INVOKABLE bool attach(const QUrl &fileUrl);
    bool attachFile(const QString &path);
    // The same for an image's bytes that come from no file (pasted). Its type is its bytes'.
    bool attachBytes(const QByteArray &bytes);
    Q_INVOKABLE void clear();

Q_SIGNALS:
    void changed();
    void errorChanged();

private:
    void setError(const QString &error);

    std::optional<ReferenceData> m_data;
    QUrl m_source;
    QString m_error;
};
