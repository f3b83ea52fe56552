#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The small text rules the window's labels follow, in one place where tests reach them.
class Formats : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // The size of an SVG by its UTF-8 bytes: "850 B" below one KiB, "3.2 KB" from there on (no
    // larger unit: a drawing is never that big, and one unit reads better in a list).
    Q_INVOKABLE static QString sizeLabel(const QString &svg);

    // How long a run has been going, for the Stop row: nothing for the first five seconds (most
    // replies begin by then), then "12s", then "2m 5s".
    Q_INVOKABLE static QString elapsed(qint64 seconds);

    // "1 local model", "2 local models".
    Q_INVOKABLE static QString localModelCount(int count);

    // Whether a field holds more than spaces and tabs (a line break counts as content): the rule
    // for "Draw" and for saving a key.
    Q_INVOKABLE static bool hasContent(const QString &text);

    // Whether "Draw" can be pressed: a model is chosen and the prompt holds more than spaces and
    // tabs. Line breaks count as content here; the session itself refuses a prompt of only those.
    Q_INVOKABLE static bool drawEnabled(const QString &prompt, const QString &selectedModel);
};
