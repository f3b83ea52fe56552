#include "app/translations.h"

#include "base/logging.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QList>
#include <QPointer>
#include <QTranslator>

namespace {
const QString kResources = QStringLiteral(":/i18n");
QList<QPointer<QTranslator>> s_installed;

QTranslator *load(const QLocale &locale, const QString &name, const QString &folder)
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(locale, name, QStringLiteral("_"), folder))
        return translator;
    delete translator;
    return nullptr;
}
} // namespace

QString Translations::install(const QLocale &locale)
{
    for (const QPointer<QTranslator> &translator : std::as_const(s_installed)) {
        if (translator) {
            QCoreApplication::removeTranslator(translator);
            delete translator.data();
        }
    }
    s_installed.clear();

    // English is the sources' own language, but its catalogue still carries the plural forms the
    // sources write once ("%n local model(s)"): a language without a catalogue falls back to it.
    QTranslator *own = load(locale, QStringLiteral("dravlin"), kResources);
    if (!own)
        own = load(QLocale(QLocale::English), QStringLiteral("dravlin"), kResources);
    if (!own) {
        qCWarning(lcApp) << "No translation catalogue in the resources";
        return QString();
    }
    const QString language = QLocale(own->language()).name().section(QLatin1Char('_'), 0, 0);
    qCDebug(lcApp) << "Speaking" << language << "for" << locale.uiLanguages();
    QCoreApplication::installTranslator(own);
    s_installed << own;
    if (language == QLatin1String("en"))
        return language;
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString &module : {QStringLiteral("qtbase"), QStringLiteral("qtdeclarative")}) {
        if (QTranslator *qt = load(QLocale(language), module, qtFolder)) {
            QCoreApplication::installTranslator(qt);
            s_installed << qt;
        }
    }
    return language;
}
