#include "Settings/AppSettings.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>
#include <filesystem>
#include <memory>

#include "Settings/CoreApplication.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

using testing::TempDirectory;
namespace fs = std::filesystem;

class AppSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { testing::ensureCoreApplication(); }

    QString settingsPath() const { return QString::fromStdString((dir / "Ostrel.conf").string()); }

    // What is on disk now. QSettings shares unsynced changes between objects on
    // the same file within one process, so read a copy instead.
    std::unique_ptr<QSettings> onDisk() {
        const fs::path copy = dir / ("copy" + std::to_string(++copies) + ".conf");
        fs::copy_file(dir / "Ostrel.conf", copy);
        return std::make_unique<QSettings>(QString::fromStdString(copy.string()),
                                           QSettings::NativeFormat);
    }

    TempDirectory dir;
    int copies = 0;
};

TEST_F(AppSettingsTest, AbsentKeysReadFalseAndNothingIsWritten) {
    AppSettings settings(settingsPath());
    EXPECT_FALSE(settings.revealInFinder());
    EXPECT_FALSE(settings.moveArchiveToTrash());
    EXPECT_FALSE(settings.alwaysCreateFolder());
    EXPECT_FALSE(fs::exists(dir / "Ostrel.conf"));
}

TEST_F(AppSettingsTest, StoredValuesAreReadWithTheStoresBooleanRules) {
    testing::writeFile(dir / "Ostrel.conf",
                       "[General]\nrevealInFinder=true\nmoveArchiveToTrash=0\n"
                       "alwaysCreateFolder=1\n");
    AppSettings settings(settingsPath());
    EXPECT_TRUE(settings.revealInFinder());
    EXPECT_FALSE(settings.moveArchiveToTrash());
    EXPECT_TRUE(settings.alwaysCreateFolder());
}

TEST_F(AppSettingsTest, EachWritePersistsAtOnce) {
    AppSettings settings(settingsPath());

    settings.setRevealInFinder(true);
    EXPECT_TRUE(onDisk()->value("revealInFinder").toBool());
    EXPECT_FALSE(onDisk()->contains("moveArchiveToTrash"));

    settings.setMoveArchiveToTrash(true);
    settings.setAlwaysCreateFolder(true);
    auto stored = onDisk();
    EXPECT_TRUE(stored->value("moveArchiveToTrash").toBool());
    EXPECT_TRUE(stored->value("alwaysCreateFolder").toBool());

    settings.setRevealInFinder(false);
    EXPECT_FALSE(onDisk()->value("revealInFinder", true).toBool());
    EXPECT_FALSE(settings.revealInFinder());
    EXPECT_TRUE(settings.moveArchiveToTrash());
}

TEST_F(AppSettingsTest, ChangeIsAnnouncedBeforeTheValueIsStored) {
    AppSettings settings(settingsPath());
    std::vector<std::pair<bool, bool>> seen;  // in memory, on disk, at each announcement
    QObject::connect(&settings, &AppSettings::aboutToChange, [&] {
        const bool storedOnDisk =
            fs::exists(dir / "Ostrel.conf") && onDisk()->value("alwaysCreateFolder").toBool();
        seen.emplace_back(settings.alwaysCreateFolder(), storedOnDisk);
    });
    QSignalSpy changed(&settings, &AppSettings::alwaysCreateFolderChanged);

    settings.setAlwaysCreateFolder(true);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::make_pair(false, false));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toBool(), true);

    // The same value again is still announced and written, but changes nothing.
    fs::remove(dir / "Ostrel.conf");
    settings.setAlwaysCreateFolder(true);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], std::make_pair(true, false));
    EXPECT_TRUE(onDisk()->value("alwaysCreateFolder").toBool());
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(AppSettingsTest, EveryPropertyAnnouncesAndNotifiesThroughItsOwnSignal) {
    AppSettings settings(settingsPath());
    QSignalSpy announced(&settings, &AppSettings::aboutToChange);
    QSignalSpy reveal(&settings, &AppSettings::revealInFinderChanged);
    QSignalSpy trash(&settings, &AppSettings::moveArchiveToTrashChanged);
    QSignalSpy folder(&settings, &AppSettings::alwaysCreateFolderChanged);

    // Through the property system, as a binding of the settings window does.
    EXPECT_TRUE(settings.setProperty("moveArchiveToTrash", true));
    EXPECT_TRUE(settings.setProperty("revealInFinder", false));

    EXPECT_EQ(announced.count(), 2);
    EXPECT_EQ(trash.count(), 1);
    EXPECT_EQ(reveal.count(), 0);
    EXPECT_EQ(folder.count(), 0);
    EXPECT_TRUE(settings.property("moveArchiveToTrash").toBool());
    auto stored = onDisk();
    EXPECT_TRUE(stored->value("moveArchiveToTrash").toBool());
    EXPECT_TRUE(stored->contains("revealInFinder"));
    EXPECT_FALSE(stored->value("revealInFinder").toBool());
}

TEST_F(AppSettingsTest, StoreIsReadOnlyAtConstruction) {
    AppSettings settings(settingsPath());
    settings.setRevealInFinder(false);
    // Another process changes the file while the app runs.
    testing::writeFile(dir / "Ostrel.conf",
                       "[General]\nrevealInFinder=true\nmoveArchiveToTrash=true\n"
                       "alwaysCreateFolder=true\n");
    EXPECT_FALSE(settings.revealInFinder());
    EXPECT_FALSE(settings.moveArchiveToTrash());
    EXPECT_FALSE(settings.alwaysCreateFolder());

    // The next write of a property overwrites that key only.
    settings.setRevealInFinder(false);
    auto stored = onDisk();
    EXPECT_FALSE(stored->value("revealInFinder").toBool());
    EXPECT_TRUE(stored->value("moveArchiveToTrash").toBool());
    EXPECT_FALSE(settings.moveArchiveToTrash());
}

TEST_F(AppSettingsTest, UsesAGivenStoreWithoutOwningIt) {
    QSettings store(settingsPath(), QSettings::NativeFormat);
    store.setValue("alwaysCreateFolder", true);
    {
        AppSettings settings(&store);
        EXPECT_TRUE(settings.alwaysCreateFolder());
        settings.setMoveArchiveToTrash(true);
    }
    EXPECT_TRUE(store.value("moveArchiveToTrash").toBool());
    EXPECT_TRUE(onDisk()->value("alwaysCreateFolder").toBool());
}

}  // namespace
}  // namespace tovani
