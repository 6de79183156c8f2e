// Translations loads the app's texts in the user's language, together with
// Qt's own (the buttons and dialogs Qt draws), from the system locale. The
// app's translations are built into it; Qt's come from the system's Qt
// translations folder when it has them. English needs nothing.
//
//   QApplication app(argc, argv);
//   Translations::install(QLocale::system());
#pragma once

#include <QLocale>
#include <QStringList>

namespace tovani::Translations {

// The resource folder of the app's compiled translations (ostrel_LANG.qm).
inline constexpr char resourceFolder[] = ":/i18n";

// Installs the translators for locale into the application; returns the
// files loaded, the app's first. Call once, after the application exists.
QStringList install(const QLocale& locale);

}  // namespace tovani::Translations
