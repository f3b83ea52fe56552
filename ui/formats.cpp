#include "ui/formats.h"

#include <QLocale>

QString Formats::sizeLabel(const QString &svg)
{
    const qsizetype bytes = svg.toUtf8().size();
    const double kib = double(bytes) / 1024.0;
    // The number as the user's locale writes it ("3,2 KB" in German); no grouping, as before.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    if (kib >= 1.0)
        return tr("%1 KB").arg(locale.toString(kib, 'f', 1));
    return tr("%1 B").arg(locale.toString(bytes));
}

QString Formats::elapsed(qint64 seconds)
{
    if (seconds < 5)
        return QString();
    if (seconds < 60)
        //: Seconds a drawing has been running
        return tr("%1s").arg(seconds);
    //: Minutes and seconds a drawing has been running
    return tr("%1m %2s").arg(seconds / 60).arg(seconds % 60);
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
    return tr("%n local model(s)", "", count);
}
