#include "session/catalog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <cmath>

namespace {

// Member readers of the strict decoder: a missing (or null) optional member is fine, anything of
// the wrong type fails the document.
struct Reader
{
    const QJsonObject &object;
    bool ok = true;

    QJsonValue member(const char *key, bool required)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull()) {
            if (required)
                ok = false;
            return QJsonValue(QJsonValue::Undefined);
        }
        return value;
    }

    std::optional<QString> string(const char *key, bool required = false)
    {
        const QJsonValue value = member(key, required);
        if (value.isUndefined())
            return std::nullopt;
        if (!value.isString()) {
            ok = false;
            return std::nullopt;
        }
        return value.toString();
    }

    std::optional<double> number(const char *key, bool required = false)
    {
        const QJsonValue value = member(key, required);
        if (value.isUndefined())
            return std::nullopt;
        if (!value.isDouble()) {
            ok = false;
            return std::nullopt;
        }
        return value.toDouble();
    }

    // A whole number: 8 and 8.0 are fine, 8.5 is not.
    std::optional<qint64> integer(const char *key, bool required = false)
    {
        const std::optional<double> value = number(key, required);
        if (!value)
            return std::nullopt;
        if (std::trunc(*value) != *value || std::abs(*value) > 9.0e15) {
            ok = false;
            return std::nullopt;
        }
        return qint64(*value);
    }

    std::optional<bool> boolean(const char *key)
    {
        const QJsonValue value = member(key, false);
        if (value.isUndefined())
            return std::nullopt;
        if (!value.isBool()) {
            ok = false;
            return std::nullopt;
        }
        return value.toBool();
    }
};

std::optional<RecommendedModel> decodeRecommended(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    Reader read{object};
    RecommendedModel model;
    model.name = read.string("name", true).value_or(QString());
    model.sizeGB = read.number("size_gb", true).value_or(0);
    model.minRamGB = read.integer("min_ram_gb", true).value_or(0);
    model.blurb = read.string("blurb", true).value_or(QString());
    model.updated = read.string("updated");
    model.updatedDays = read.integer("updated_days");
    model.pulls = read.integer("pulls");
    model.displayName = read.string("display_name");
    model.cloudId = read.string("cloud_id");
    model.launchedOn = read.string("launched_on");
    model.datePrecise = read.boolean("date_precise");
    if (!read.ok)
        return std::nullopt;
    return model;
}

std::optional<CloudModel> decodeCloud(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    Reader read{object};
    CloudModel model;
    model.id = read.string("id", true).value_or(QString());
    model.name = read.string("name", true).value_or(QString());
    model.vision = read.boolean("vision");
    model.created = read.integer("created");
    if (!read.ok)
        return std::nullopt;
    return model;
}

} // namespace

std::optional<CatalogPayload> CatalogPayload::decode(const QByteArray &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    CatalogPayload payload;

    const QJsonValue models = root.value(QStringLiteral("models"));
    if (!models.isArray())
        return std::nullopt;
    for (const QJsonValue &entry : models.toArray()) {
        auto model = decodeRecommended(entry);
        if (!model)
            return std::nullopt;
        payload.models.append(*model);
    }

    const QJsonValue catalog = root.value(QStringLiteral("cloud_catalog"));
    if (!catalog.isUndefined() && !catalog.isNull()) {
        if (!catalog.isArray())
            return std::nullopt;
        for (const QJsonValue &entry : catalog.toArray()) {
            auto model = decodeCloud(entry);
            if (!model)
                return std::nullopt;
            payload.cloudCatalog.append(*model);
        }
    }

    const QJsonValue featured = root.value(QStringLiteral("featured_cloud"));
    if (!featured.isUndefined() && !featured.isNull()) {
        if (!featured.isArray())
            return std::nullopt;
        for (const QJsonValue &entry : featured.toArray()) {
            if (!entry.isString())
                return std::nullopt;
            payload.featuredCloud.append(entry.toString());
        }
    }
    return payload;
}

std::optional<QString> RecommendedModel::releaseLabel() const
{
    if (!launchedOn)
        return std::nullopt;
    const QDate date = QDate::fromString(*launchedOn, QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid())
        return std::nullopt;
    // A calendar date, shown as the catalog wrote it: no time zone can move it to another day.
    const QLocale english = QLocale::c();
    if (datePrecise.value_or(false))
        return english.toString(date, QStringLiteral("MMM d, yyyy"));
    return english.toString(date, QStringLiteral("MMM yyyy"));
}

QString Catalog::familyName(const QString &modelName)
{
    const QStringList pieces = modelName.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return pieces.isEmpty() ? modelName : pieces.first();
}

QSet<QString> Catalog::installedFamilies(const QList<OllamaModel> &models)
{
    QSet<QString> families;
    for (const OllamaModel &model : models)
        families.insert(familyName(model.name));
    return families;
}
