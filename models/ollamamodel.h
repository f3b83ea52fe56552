#pragma once

#include <QDateTime>
#include <QString>

// One installed local model, as the local server lists it.
struct OllamaModel
{
    QString name;
    bool tools = true;
    bool vision = false;
    qint64 sizeBytes = 0;
    QDateTime modifiedAt;

    bool operator==(const OllamaModel &) const = default;
};
