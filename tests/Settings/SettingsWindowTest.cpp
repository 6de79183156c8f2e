#include "Settings/SettingsWindowController.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <filesystem>

#include "App/Translations.h"
#include "Settings/AcknowledgementsView.h"
#include "Settings/AppResources.h"
#include "Settings/AppSettings.h"
#include "Settings/ArchiveTypes.h"
#include "Settings/DefaultAppStatus.h"
#include "Settings/SettingsView.h"
#include "Settings/SettingsWindowHarness.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

using testing::ensureApplication;
using testing::FakeXdgMime;
using testing::kAppId;
using testing::kWaitMs;
using testing::readFile;
using testing::SettingsWindowTest;
using testing::TempDirectory;
using testing::writeFile;
namespace fs = std::filesystem;

class ApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ensureApplication(); }
};
[[maybe_unused]] ::testing::Environment* const applicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

TEST_F(SettingsWindowTest, ShowsTheThreeSectionsWithTheirTexts) {
    SettingsWindowController& controller = makeController(tool_);
    const SettingsView& view = *controller.view();

    EXPECT_EQ(controller.window()->windowTitle(), "Ostrel Settings");
    EXPECT_EQ(controller.window()->width(), 480);
    EXPECT_EQ(controller.window()->minimumSize(), controller.window()->maximumSize());

    const QStringList labels = labelTexts(controller.window());
    EXPECT_TRUE(labels.contains("Default App"));
    EXPECT_TRUE(labels.contains("Extraction"));
    EXPECT_TRUE(labels.contains("After extracting"));
    EXPECT_TRUE(labels.contains("Archive after extracting"));
    EXPECT_TRUE(labels.contains(
        "Archives are extracted next to the original. Existing files are never replaced."));

    EXPECT_EQ(view.setDefaultButton()->text(), "Set as Default");
    EXPECT_EQ(itemTexts(view.revealPicker()), QStringList({"Do nothing", "Show in File Manager"}));
    EXPECT_EQ(itemTexts(view.trashPicker()), QStringList({"Keep", "Move to Trash"}));
    EXPECT_EQ(view.folderToggle()->text(), "Always extract into a new folder");
    EXPECT_EQ(view.versionLabel()->text(), "Version 1.0.0");
    EXPECT_EQ(view.acknowledgementsButton()->text(), "Acknowledgements…");

    // A fresh installation: nothing stored, so every preference is off.
    EXPECT_EQ(view.revealPicker()->currentText(), "Do nothing");
    EXPECT_EQ(view.trashPicker()->currentText(), "Keep");
    EXPECT_FALSE(view.folderToggle()->isChecked());
}

TEST_F(SettingsWindowTest, StatusWithNoKnownDefault) {
    const SettingsView& view = *makeController(tool_).view();

    EXPECT_EQ(view.statusTitle()->text(), "Ostrel is not the default app for .rar files.");
    EXPECT_FALSE(view.statusIcon()->property("showsDefault").toBool());
    EXPECT_TRUE(view.handlerLine()->isHidden());
    EXPECT_TRUE(view.setDefaultButton()->isEnabled());
}

TEST_F(SettingsWindowTest, StatusWhenThisAppIsTheDefault) {
    tool_.answer(kAppId.toStdString());
    const SettingsView& view = *makeController(tool_).view();

    EXPECT_EQ(view.statusTitle()->text(), "Ostrel opens .rar files.");
    EXPECT_TRUE(view.statusIcon()->property("showsDefault").toBool());
    EXPECT_TRUE(view.handlerLine()->isHidden());
    EXPECT_FALSE(view.setDefaultButton()->isEnabled());
}

TEST_F(SettingsWindowTest, StatusWhenAnotherAppIsTheDefault) {
    tool_.answer("archive-viewer.desktop");
    SettingsWindowController& controller = makeController(tool_);
    const SettingsView& view = *controller.view();
    const int heightWithoutLine = [&] {
        TempDirectory other;
        FakeXdgMime none(other.path());
        AppSettings settings(QString::fromStdString((other / "s.conf").string()));
        SettingsWindowController plain(settings, new DefaultAppStatus(kAppId, none.program()));
        EXPECT_TRUE(waitForRefresh(plain.defaultApp()));
        return plain.window()->height();
    }();

    EXPECT_EQ(view.statusTitle()->text(), "Ostrel is not the default app for .rar files.");
    EXPECT_FALSE(view.handlerLine()->isHidden());
    EXPECT_EQ(view.handlerLine()->text(), "Currently opened with Archive Viewer.");
    EXPECT_TRUE(view.setDefaultButton()->isEnabled());
    // The window grows to hold the extra line.
    EXPECT_GT(controller.window()->height(), heightWithoutLine);
}

TEST_F(SettingsWindowTest, SetAsDefaultAsksForTheDefaultAndShowsTheOutcome) {
    tool_.answer("archive-viewer.desktop");
    SettingsWindowController& controller = makeController(tool_);
    const SettingsView& view = *controller.view();
    controller.show();
    ASSERT_TRUE(waitForRefresh(controller.defaultApp()));

    QTest::mouseClick(view.setDefaultButton(), Qt::LeftButton);
    ASSERT_TRUE(waitForRefresh(controller.defaultApp()));

    EXPECT_EQ(tool_.requests(),
              "default org.ostrel.Ostrel.desktop application/vnd.rar application/x-rar "
              "application/x-rar-compressed\n");
    // Same window, new state.
    EXPECT_TRUE(controller.window()->isVisible());
    EXPECT_EQ(view.statusTitle()->text(), "Ostrel opens .rar files.");
    EXPECT_TRUE(view.handlerLine()->isHidden());
    EXPECT_FALSE(view.setDefaultButton()->isEnabled());
}

// The handler column of the type list, in the order of the types.
QStringList handlerTexts(const SettingsView& view) {
    QStringList texts;
    for (qsizetype i = 0; i < archiveTypes().size(); ++i) {
        texts << view.typeHandlerLabel(i)->text();
    }
    return texts;
}

TEST_F(SettingsWindowTest, TypeListUnfoldsWithEachTypesNameAndHandler) {
    tool_.answer("archive-viewer.desktop");
    SettingsWindowController& controller = makeController(tool_);
    const SettingsView& view = *controller.view();
    controller.show();

    EXPECT_EQ(view.typesSummary()->text(),
              QStringLiteral("Ostrel opens 0 of the %1 archive types it supports.")
                  .arg(archiveTypes().size()));
    EXPECT_EQ(view.setDefaultForAllButton()->text(), "Set as Default for All");
    EXPECT_TRUE(view.setDefaultForAllButton()->isEnabled());
    EXPECT_EQ(view.typesToggle()->text(), "Archive Types");
    EXPECT_FALSE(view.typeList()->isVisible());
    const int folded = controller.window()->height();

    QTest::mouseClick(view.typesToggle(), Qt::LeftButton);
    EXPECT_TRUE(view.typeList()->isVisible());
    EXPECT_GT(controller.window()->height(), folded + 100);
    for (qsizetype i = 0; i < archiveTypes().size(); ++i) {
        EXPECT_EQ(view.typeNameLabel(i)->text(), readableName(archiveTypes()[i]));
        EXPECT_EQ(view.typeHandlerLabel(i)->text(), "Archive Viewer");
        EXPECT_FALSE(view.typeHandlerLabel(i)->property("showsDefault").toBool());
    }
    EXPECT_EQ(view.typeNameLabel(1)->text(), "Zip archive");

    QTest::mouseClick(view.typesToggle(), Qt::LeftButton);
    EXPECT_FALSE(view.typeList()->isVisible());
    EXPECT_EQ(controller.window()->height(), folded);
}

TEST_F(SettingsWindowTest, SetAsDefaultForAllAsksForEveryTypeAndAliasInOneRequest) {
    tool_.answer("archive-viewer.desktop");
    SettingsWindowController& controller = makeController(tool_);
    const SettingsView& view = *controller.view();
    controller.show();
    ASSERT_TRUE(waitForRefresh(controller.defaultApp()));

    QTest::mouseClick(view.setDefaultForAllButton(), Qt::LeftButton);
    ASSERT_TRUE(waitForRefresh(controller.defaultApp()));

    EXPECT_EQ(tool_.requests(), "default org.ostrel.Ostrel.desktop " +
                                    archiveTypeNames().join(' ').toStdString() + "\n");
    EXPECT_EQ(view.typesSummary()->text(), "Ostrel opens all the archive types it supports.");
    EXPECT_FALSE(view.setDefaultForAllButton()->isEnabled());
    EXPECT_EQ(handlerTexts(view), QStringList(archiveTypes().size(), "Ostrel"));
    EXPECT_TRUE(view.typeHandlerLabel(0)->property("showsDefault").toBool());
    // RAR is one of them.
    EXPECT_EQ(view.statusTitle()->text(), "Ostrel opens .rar files.");
    EXPECT_FALSE(view.setDefaultButton()->isEnabled());
}

// The real xdg-mime, in the private folders: each type shows what the
// desktop records for it, and the request writes the private record only.
TEST_F(SettingsWindowTest, SetAsDefaultForAllWithTheDesktopsOwnToolWritesThePrivateRecordOnly) {
    const fs::path userRecord =
        fs::path(qEnvironmentVariable("HOME").toStdString()) / ".config/mimeapps.list";
    const bool userHadRecord = fs::exists(userRecord);
    const std::string userRecordBefore = userHadRecord ? readFile(userRecord) : "";
    recordDefaults(
        "application/zip=archive-viewer.desktop;\n"
        "application/x-7z-compressed=" +
        kAppId.toStdString() + ";\n");
    SettingsWindowController& controller = makeController(QStringLiteral("xdg-mime"));
    const SettingsView& view = *controller.view();

    QStringList expected(archiveTypes().size(), "No default app");
    expected[1] = "Archive Viewer";  // zip
    expected[2] = "Ostrel";          // 7z
    EXPECT_EQ(handlerTexts(view), expected);
    EXPECT_TRUE(view.typeHandlerLabel(2)->property("showsDefault").toBool());
    EXPECT_EQ(view.typesSummary()->text(),
              QStringLiteral("Ostrel opens 1 of the %1 archive types it supports.")
                  .arg(archiveTypes().size()));
    EXPECT_EQ(view.statusTitle()->text(), "Ostrel is not the default app for .rar files.");

    QTest::mouseClick(view.setDefaultForAllButton(), Qt::LeftButton);
    ASSERT_TRUE(waitForRefresh(controller.defaultApp()));
    EXPECT_EQ(handlerTexts(view), QStringList(archiveTypes().size(), "Ostrel"));
    EXPECT_EQ(view.typesSummary()->text(), "Ostrel opens all the archive types it supports.");
    EXPECT_EQ(view.statusTitle()->text(), "Ostrel opens .rar files.");

    const std::string record = readFile(dir_ / "config/mimeapps.list");
    for (const QString& name : archiveTypeNames()) {
        EXPECT_NE(record.find(name.toStdString() + "=" + kAppId.toStdString()), std::string::npos)
            << name.toStdString();
    }
    EXPECT_EQ(fs::exists(userRecord), userHadRecord);
    if (userHadRecord) {
        EXPECT_EQ(readFile(userRecord), userRecordBefore);
    }
}

TEST_F(SettingsWindowTest, SetAsDefaultWithoutTheToolLeavesTheStatusAsItIs) {
    SettingsWindowController& controller =
        makeController(QString::fromStdString((dir_ / "missing/xdg-mime").string()));
    const SettingsView& view = *controller.view();

    QTest::mouseClick(view.setDefaultButton(), Qt::LeftButton);
    ASSERT_TRUE(waitForRefresh(controller.defaultApp()));

    EXPECT_EQ(view.statusTitle()->text(), "Ostrel is not the default app for .rar files.");
    EXPECT_TRUE(view.setDefaultButton()->isEnabled());
}

TEST_F(SettingsWindowTest, PickersAndToggleWriteTheSettingsAtOnce) {
    const SettingsView& view = *makeController(tool_).view();

    view.revealPicker()->setCurrentIndex(1);
    EXPECT_TRUE(settings_->revealInFinder());
    view.trashPicker()->setCurrentIndex(1);
    EXPECT_TRUE(settings_->moveArchiveToTrash());
    QTest::mouseClick(view.folderToggle(), Qt::LeftButton);
    EXPECT_TRUE(settings_->alwaysCreateFolder());

    // Already in the store, as a later launch reads it.
    const AppSettings reread(settingsFile());
    EXPECT_TRUE(reread.revealInFinder());
    EXPECT_TRUE(reread.moveArchiveToTrash());
    EXPECT_TRUE(reread.alwaysCreateFolder());

    view.trashPicker()->setCurrentIndex(0);
    EXPECT_FALSE(settings_->moveArchiveToTrash());
    EXPECT_FALSE(AppSettings(settingsFile()).moveArchiveToTrash());
}

TEST_F(SettingsWindowTest, ControlsShowStoredValuesAndFollowChanges) {
    {
        AppSettings stored(settingsFile());
        stored.setRevealInFinder(true);
    }
    const SettingsView& view = *makeController(tool_).view();
    EXPECT_EQ(view.revealPicker()->currentText(), "Show in File Manager");

    QSignalSpy announced(settings_.get(), &AppSettings::aboutToChange);
    settings_->setMoveArchiveToTrash(true);
    settings_->setAlwaysCreateFolder(true);
    settings_->setRevealInFinder(false);

    EXPECT_EQ(view.trashPicker()->currentText(), "Move to Trash");
    EXPECT_TRUE(view.folderToggle()->isChecked());
    EXPECT_EQ(view.revealPicker()->currentText(), "Do nothing");
    // Following a change writes nothing back.
    EXPECT_EQ(announced.count(), 3);
}

TEST_F(SettingsWindowTest, ShowRefreshesTheStatusAndBringsBackTheSameWindow) {
    SettingsWindowController& controller = makeController(tool_);
    QWidget* window = controller.window();
    const SettingsView& view = *controller.view();

    tool_.answer(kAppId.toStdString());
    controller.show();
    ASSERT_TRUE(waitForRefresh(controller.defaultApp()));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(view.statusTitle()->text(), "Ostrel opens .rar files.");

    QPointer<QWidget> kept(window);
    window->close();
    QCoreApplication::processEvents();
    ASSERT_FALSE(kept.isNull());
    EXPECT_FALSE(window->isVisible());

    tool_.answer("archive-viewer.desktop");
    controller.show();
    ASSERT_TRUE(waitForRefresh(controller.defaultApp()));
    EXPECT_EQ(controller.window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(view.handlerLine()->text(), "Currently opened with Archive Viewer.");
}

TEST_F(SettingsWindowTest, BecomingActiveRefreshesTheStatus) {
    SettingsWindowController& controller = makeController(tool_);

    tool_.answer(kAppId.toStdString());
    QSignalSpy refreshed(&controller.defaultApp(), &DefaultAppStatus::refreshed);
    // A refresh starts its query at once, as a child process of the status.
    const auto queries = [&] {
        return controller.defaultApp().findChildren<QProcess*>(Qt::FindDirectChildrenOnly).size();
    };
    const auto before = queries();
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_EQ(queries(), before);

    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(queries(), before + archiveTypes().size());  // one per type
    ASSERT_TRUE(refreshed.wait(kWaitMs));
    EXPECT_EQ(controller.view()->statusTitle()->text(), "Ostrel opens .rar files.");
}

TEST_F(SettingsWindowTest, AboutIsReachableFromTheWindowWithoutAMenuBar) {
    SettingsWindowController& controller = makeController(tool_);
    controller.show();
    QPushButton* about = controller.view()->aboutButton();
    EXPECT_EQ(about->text(), "About Ostrel");

    QString title, version;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (box == nullptr || box->objectName() != "aboutBox") {
            return;
        }
        title = box->windowTitle();
        version = box->findChild<QLabel*>("qt_msgbox_informativelabel")->text();
        box->reject();
    });
    poll.start();
    QTest::mouseClick(about, Qt::LeftButton);  // returns once the box is gone
    EXPECT_EQ(title, "About Ostrel");
    EXPECT_EQ(version,
              "Version 1.0.0\nReleased under the MIT License.\nRAR archives are unpacked with "
              "the UnRAR source code by Varnholt.\n" OSTREL_TEST_HOMEPAGE);
}

TEST_F(SettingsWindowTest, AppIconIsInTheResources) {
    AppResources::initialize();
    QFile icon(AppResources::iconPath);
    ASSERT_TRUE(icon.open(QIODevice::ReadOnly));
    EXPECT_TRUE(icon.readAll().contains("<svg"));
}

// Renders the window in its states and the sheet into $OSTREL_PICTURES, for a
// look by eye: run with --gtest_also_run_disabled_tests.
TEST_F(SettingsWindowTest, DISABLED_RenderForReview) {
    const QString pictures = qEnvironmentVariable("OSTREL_PICTURES");
    ASSERT_FALSE(pictures.isEmpty()) << "set OSTREL_PICTURES to a directory";
    tool_.answer("archive-viewer.desktop");
    SettingsWindowController& controller = makeController(tool_);
    controller.show();
    ASSERT_TRUE(waitForRefresh(controller.defaultApp()));
    QCoreApplication::processEvents();
    EXPECT_TRUE(controller.window()->grab().save(pictures + "/settings-other.png"));

    tool_.answer(kAppId.toStdString());
    controller.show();
    ASSERT_TRUE(waitForRefresh(controller.defaultApp()));
    QCoreApplication::processEvents();
    EXPECT_TRUE(controller.window()->grab().save(pictures + "/settings.png"));

    // The type list unfolded, with a mix of handlers, as the desktop's own
    // tool reads them from the private record.
    recordDefaults(
        "application/zip=archive-viewer.desktop;\n"
        "application/x-7z-compressed=archive-viewer.desktop;\n"
        "application/vnd.rar=" +
        kAppId.toStdString() + ";\napplication/x-compressed-tar=" + kAppId.toStdString() +
        ";\napplication/x-tar=" + kAppId.toStdString() + ";\n");
    {
        SettingsWindowController& types = makeController(QStringLiteral("xdg-mime"));
        types.show();
        types.view()->typesToggle()->click();
        QCoreApplication::processEvents();
        EXPECT_TRUE(types.window()->grab().save(pictures + "/settings-types.png"));
    }
    tool_.answer(kAppId.toStdString());
    SettingsWindowController& again = makeController(tool_);
    again.show();
    QCoreApplication::processEvents();

    again.view()->showAcknowledgements();
    QCoreApplication::processEvents();
    EXPECT_TRUE(again.view()->acknowledgements()->grab().save(pictures + "/acknowledgements.png"));

    // The same window in German, beside the English one.
    again.view()->acknowledgements()->reject();
    Translations::install(QLocale(QLocale::German, QLocale::Germany));
    SettingsWindowController& german = makeController(tool_);
    german.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(german.window()->grab().save(pictures + "/settings-de.png"));
    tool_.answer("archive-viewer.desktop");
    german.show();
    ASSERT_TRUE(waitForRefresh(german.defaultApp()));
    QCoreApplication::processEvents();
    EXPECT_TRUE(german.window()->grab().save(pictures + "/settings-other-de.png"));
    // The types' names come from the MIME database, in the default locale's language.
    const QLocale savedLocale;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        SettingsWindowController& types = makeController(QStringLiteral("xdg-mime"));
        types.show();
        types.view()->typesToggle()->click();
        QCoreApplication::processEvents();
        EXPECT_TRUE(types.window()->grab().save(pictures + "/settings-types-de.png"));
    }
    QLocale::setDefault(savedLocale);
    for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

}  // namespace
}  // namespace tovani
