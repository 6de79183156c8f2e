#include "App/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tovani::Translations {

QStringList install(const QLocale& locale) {
    QStringList loaded;
    // Parented to the application: they live as long as it does.
    auto* own = new QTranslator(QCoreApplication::instance());
    if (own->load(locale, QStringLiteral("ostrel"), QStringLiteral("_"),
                  QString::fromLatin1(resourceFolder))) {
        QCoreApplication::installTranslator(own);
        loaded << own->filePath();
    } else {
        delete own;
    }
    auto* qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
        loaded << qt->filePath();
    } else {
        delete qt;
    }
    return loaded;
}

}  // namespace tovani::Translations
