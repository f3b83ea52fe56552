#pragma once

#include "models/ollamamodel.h"

#include <QDate>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// A local model the service recommends getting.
struct RecommendedModel
{
    QString name;
    double sizeGB = 0;
    qint64 minRamGB = 0;
    QString blurb;
    std::optional<QString> updated;
    std::optional<qint64> updatedDays;
    std::optional<qint64> pulls;
    std::optional<QString> displayName;
    std::optional<QString> cloudId;
    std::optional<QString> launchedOn;
    std::optional<bool> datePrecise;

    // "Mar 2025", or "Mar 4, 2025" when the date is exact to the day; none without a usable date.
    std::optional<QString> releaseLabel() const;

    bool operator==(const RecommendedModel &) const = default;
};

// A model that runs behind the service.
struct CloudModel
{
    QString id;
    QString name;
    std::optional<bool> vision;
    std::optional<qint64> created;

    bool operator==(const CloudModel &) const = default;
};

// The service's recommended-models document. Decoding is all or nothing: one entry with a missing
// required member or a member of the wrong type makes the whole document unusable.
struct CatalogPayload
{
    QList<RecommendedModel> models;
    QList<CloudModel> cloudCatalog;
    QStringList featuredCloud;

    static std::optional<CatalogPayload> decode(const QByteArray &json);
};

namespace Catalog {
// The family of a model name: its first non-empty piece between colons ("alpha:8b" → "alpha").
QString familyName(const QString &modelName);
// The family names of installed models.
QSet<QString> installedFamilies(const QList<OllamaModel> &models);
} // namespace Catalog
