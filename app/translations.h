#pragma once

#include <QLocale>
#include <QString>

// The language the user interface speaks: Dravlin's own catalogue for the first of the locale's
// UI languages that has one, else English; and Qt's own texts (its dialogs, its network errors)
// in that same language where Qt ships them. Installing again replaces what was installed before;
// a QQmlApplicationEngine retranslates by itself, the shell's own engine through DravlinApp.
namespace Translations {

// The locale is the default one unless given: the system's, with its LANGUAGE list, unless the
// process has set another. Returns the language of the catalogue installed ("de", "en").
QString install(const QLocale &locale = QLocale());

} // namespace Translations
