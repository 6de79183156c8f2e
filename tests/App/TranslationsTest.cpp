#include "App/Translations.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>
#include <map>

#include "App/QueueTestSupport.h"
#include "UI/ProgressWindowController.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

// Each message of a .ts file, by context and source text, with its translation
// (numerus forms joined by "|"), or "(unfinished)".
std::map<std::pair<QString, QString>, QString> messages(const QString& tsFile) {
    std::map<std::pair<QString, QString>, QString> found;
    QFile file(tsFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return found;
    }
    QXmlStreamReader xml(&file);
    QString context, source, translation;
    bool unfinished = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
                found[{context, source}] =
                    unfinished ? QStringLiteral("(unfinished)") : translation;
            }
            continue;
        }
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            source.clear();
            translation.clear();
            unfinished = false;
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            unfinished = xml.attributes().value("type") == QLatin1String("unfinished");
            if (xml.attributes().value("type") == QLatin1String("vanished") ||
                xml.attributes().value("type") == QLatin1String("obsolete")) {
                unfinished = true;
            }
            translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        }
    }
    return found;
}

QStringList placeholders(const QString& text) {
    QStringList found;
    QRegularExpressionMatchIterator matches =
        QRegularExpression(QStringLiteral("%(\\d|n)")).globalMatch(text);
    while (matches.hasNext()) {
        found << matches.next().captured();
    }
    found.sort();
    found.removeDuplicates();
    return found;
}

class TranslationsTest : public ::testing::Test {
protected:
    void SetUp() override { testing::queue::ensureApplication(); }
    void TearDown() override {
        for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    }
};

TEST_F(TranslationsTest, GermanLocaleLoadsTheAppsTextsAndQtsOwn) {
    const QStringList loaded = Translations::install(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_FALSE(loaded.isEmpty());
    EXPECT_EQ(loaded.front(), ":/i18n/ostrel_de.qm");
    EXPECT_EQ(QCoreApplication::translate("PasswordPrompt", "Show password"), "Passwort anzeigen");

    ProgressWindowController progress;
    progress.begin("a.rar", 1, 2);
    EXPECT_EQ(progress.window()->findChild<QPushButton*>("cancelButton")->text(), "Abbrechen");
    EXPECT_EQ(progress.window()->findChild<QLabel*>("titleLabel")->text(), "„a.rar“ wird entpackt");
    EXPECT_EQ(progress.window()->findChild<QLabel*>("countLabel")->text(), "1 von 2");
    progress.finish();

    // Qt's own texts, where the system has Qt's translations.
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (QFile::exists(qtFolder + "/qtbase_de.qm")) {
        ASSERT_EQ(loaded.size(), 2);
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
    }
}

TEST_F(TranslationsTest, ALanguageWithoutTranslationKeepsTheEnglishTexts) {
    const QStringList loaded =
        Translations::install(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_FALSE(loaded.contains(":/i18n/ostrel_en.qm"));
    EXPECT_EQ(QCoreApplication::translate("PasswordPrompt", "Show password"), "Show password");
}

// lupdate over the sources finds every tr() text; each one is in the German
// file, translated, with the same placeholders.
TEST_F(TranslationsTest, EveryTextOfTheSourcesHasAGermanTranslationWithItsPlaceholders) {
    const QString source = QStringLiteral(OSTREL_SOURCE_DIR);
    const QString shipped = source + "/src/Translations/ostrel_de.ts";
    testing::TempDirectory dir;
    const QString fresh = QFile::decodeName((dir / "fresh.ts").c_str());
    QProcess lupdate;
    lupdate.start(
        QStringLiteral(OSTREL_LUPDATE),
        {"-silent", "-no-obsolete", "-locations", "none", "-I", source + "/src",
         source + "/src/App", source + "/src/UI", source + "/src/Settings", "-ts", fresh});
    ASSERT_TRUE(lupdate.waitForFinished(60000));
    ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();

    const auto wanted = messages(fresh);
    const auto german = messages(shipped);
    ASSERT_GT(wanted.size(), 50u);
    for (const auto& [key, unused] : wanted) {
        const auto found = german.find(key);
        ASSERT_NE(found, german.end())
            << "no German text for " << key.first.toStdString() << ": " << key.second.toStdString();
        const QString& translation = found->second;
        EXPECT_NE(translation, "(unfinished)") << key.second.toStdString();
        EXPECT_FALSE(translation.isEmpty()) << key.second.toStdString();
        for (const QString& form : translation.split('|')) {
            EXPECT_EQ(placeholders(form), placeholders(key.second))
                << key.second.toStdString() << " -> " << form.toStdString();
        }
    }
}

}  // namespace
}  // namespace tovani
