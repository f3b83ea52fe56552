#include "ui/formats.h"

QString Formats::sizeLabel(const QString &svg)
{
    const qsizetype bytes = svg.toUtf8().size();
    const double kib = double(bytes) / 1024.0;
    if (kib >= 1.0)
        return QString::asprintf("%.1f KB", kib);
    return QString::number(bytes) + QStringLiteral(" B");
}

QString Formats::elapsed(qint64 seconds)
{
    if (seconds < 5)
        return QString();
    if (seconds < 60)
        return QString::number(seconds) + QLatin1Char('s');
    return QString::number(seconds / 60) + QStringLiteral("m ") + QString::number(seconds % 60) +
           QLatin1Char('s');
}

bool Formats::hasContent(const QString &text)
{
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t'))
            return true;
    }
    return false;
}

bool Formats::drawEnabled(const QString &prompt, const QString &selectedModel)
{
    return !selectedModel.isEmpty() && hasContent(prompt);
}

QString Formats::localModelCount(int count)
{
    return count == 1 ? QStringLiteral("1 local model") : QStringLiteral("%1 local models").arg(count);
}
