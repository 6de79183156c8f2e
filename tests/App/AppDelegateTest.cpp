#include "App/AppDelegate.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "App/AppTestSupport.h"
#include "App/QueueTestSupport.h"
#include "Messages/ErrorMessage.h"
#include "Settings/SettingsWindowController.h"
#include "support/PatternedBytes.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A directory whose contents can be read but not written, even by root: a
// read-only bind mount of `source`, or for other users a mode without write
// permission.
class ReadOnlyView {
public:
    ReadOnlyView(const fs::path& source, const fs::path& at) : at_(at) {
        if (::geteuid() != 0) {
            fs::rename(source, at);
            fs::permissions(at, fs::perms::owner_read | fs::perms::owner_exec);
            ready_ = true;
            return;
        }
        fs::create_directories(at);
        mounted_ = ::mount(source.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0;
        ready_ = mounted_ && ::mount(nullptr, at.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                                     nullptr) == 0;
    }
    ~ReadOnlyView() {
        if (mounted_) {
            ::umount(at_.c_str());
        } else if (ready_) {
            fs::permissions(at_, fs::perms::owner_all);
        }
    }
    bool ready() const { return ready_; }

private:
    fs::path at_;
    bool mounted_ = false;
    bool ready_ = false;
};

class AppDelegateTest : public ::testing::Test {
protected:
    TempDirectory dir;
};

TEST_F(AppDelegateTest, LaunchWithoutArchivesShowsSettingsAndQuitsTwoSecondsAfterItCloses) {
    AppHarness app(dir.path());
    app.delegate->willFinishLaunching();
    app.delegate->didFinishLaunching();

    SettingsWindowController* settingsWindow = app.delegate->settingsWindowIfMade();
    ASSERT_NE(settingsWindow, nullptr);
    EXPECT_TRUE(settingsWindow->window()->isVisible());
    // No delay runs while the window is up, however long it stays.
    EXPECT_FALSE(app.delegate->isIdleCheckPending());

    settingsWindow->window()->close();
    EXPECT_EQ(app.quitCount, 0);
    ASSERT_TRUE(app.elapseIdleDelay());
    EXPECT_EQ(app.log, (Log{"quit"}));
}

TEST_F(AppDelegateTest, LaunchWithAnArchiveExtractsWithoutSettingsAndQuitsTwoSecondsAfterIdle) {
    const fs::path archive = singleFileArchive(dir.path(), "a", "alpha");
    AppHarness app(dir.path());
    app.delegate->willFinishLaunching();
    app.delegate->open({archive});
    app.delegate->didFinishLaunching();
    EXPECT_EQ(app.delegate->settingsWindowIfMade(), nullptr);

    ASSERT_TRUE(app.waitForIdle());
    EXPECT_EQ(app.quitCount, 0);
    ASSERT_TRUE(app.elapseIdleDelay());
    EXPECT_FALSE(app.delegate->progressWindow().window()->isVisible());
    EXPECT_EQ(readFile(dir / "a.txt"), "alpha");
    EXPECT_EQ(app.log, (Log{"start a.rar 1/1", "finish a.rar", "idle", "quit"}));
    EXPECT_EQ(app.delegate->settingsWindowIfMade(), nullptr);
}

TEST_F(AppDelegateTest, SecondOpenWithinTheDelayCancelsThePendingQuitAndStartsAtPositionOne) {
    const fs::path first = singleFileArchive(dir.path(), "a", "alpha");
    const fs::path second = singleFileArchive(dir.path(), "b", "beta");
    AppHarness app(dir.path());
    app.delegate->willFinishLaunching();
    app.delegate->open({first});
    app.delegate->didFinishLaunching();
    ASSERT_TRUE(app.waitForIdle());
    EXPECT_TRUE(app.delegate->isIdleCheckPending());

    app.delegate->open({second});
    EXPECT_FALSE(app.delegate->isIdleCheckPending());
    ASSERT_TRUE(app.waitForIdle(2));
    // The delay starts again, in full, from the second batch's end.
    EXPECT_TRUE(app.delegate->isIdleCheckPending());
    EXPECT_EQ(app.quitCount, 0);
    ASSERT_TRUE(app.elapseIdleDelay());
    EXPECT_EQ(app.log, (Log{"start a.rar 1/1", "finish a.rar", "idle", "start b.rar 1/1",
                            "finish b.rar", "idle", "quit"}));
}

TEST_F(AppDelegateTest, SettingsShownWhileExtractingKeepTheAppOpenUntilClosed) {
    const fs::path archive = singleFileArchive(dir.path(), "a", "alpha");
    AppHarness app(dir.path());
    app.delegate->willFinishLaunching();
    app.delegate->open({archive});
    app.delegate->didFinishLaunching();
    app.delegate->reopen();
    ASSERT_TRUE(app.waitForIdle());

    // The delay runs out while the window is up: the app stays.
    app.idleTimer->elapse();
    EXPECT_EQ(app.quitCount, 0);
    app.delegate->settingsWindowIfMade()->window()->close();
    ASSERT_TRUE(app.elapseIdleDelay());
    EXPECT_EQ(app.quitCount, 1);
}

TEST_F(AppDelegateTest, CancellingShowsNoAlertAndNeitherTrashesNorRevealsWhileTheNextJobRuns) {
    const fs::path locked = singleFileArchive(dir.path(), "locked", "secret data", {"-psecret"});
    const fs::path plain = singleFileArchive(dir.path(), "plain", "open data");
    AppHarness app(dir.path());
    app.settings->setMoveArchiveToTrash(true);
    app.settings->setRevealInFinder(true);
    // The user presses Cancel while the job waits, then answers anyway.
    app.onPassword = [&app](const PasswordRequest&) -> std::optional<std::string> {
        auto* cancel =
            app.delegate->progressWindow().window()->findChild<QPushButton*>("cancelButton");
        EXPECT_NE(cancel, nullptr);
        if (cancel != nullptr) {
            cancel->click();
        }
        return "secret";
    };
    app.delegate->willFinishLaunching();
    app.delegate->open({locked, plain});
    app.delegate->didFinishLaunching();

    ASSERT_TRUE(app.waitForIdle());
    EXPECT_EQ(app.log, (Log{"start locked.rar 1/2", "password locked.rar", "finish locked.rar",
                            "start plain.rar 2/2", "finish plain.rar", "trash plain.rar",
                            "reveal plain.txt", "idle"}));
    EXPECT_FALSE(fs::exists(dir / "locked.txt"));
    EXPECT_EQ(readFile(dir / "plain.txt"), "open data");
}

TEST_F(AppDelegateTest, TrashTakesEveryVolumeAndGoesOnPastOneThatCannotBeMoved) {
    makeTree(dir / "src", {{"set.bin", patterned(50000)}});
    const fs::path first =
        rar(dir / "src", (dir / "set.rar").string(), {"-m0", "-v20k"}, {"set.bin"});
    ASSERT_EQ(volumeFiles(first).size(), 3u);
    AppHarness app(dir.path(), {"set.part2.rar"});
    app.settings->setMoveArchiveToTrash(true);
    app.delegate->willFinishLaunching();
    app.delegate->open({dir / "set.part3.rar"});

    ASSERT_TRUE(app.waitForIdle());
    EXPECT_EQ(app.log,
              (Log{"start set.part1.rar 1/1", "finish set.part1.rar", "trash set.part1.rar",
                   "trash set.part2.rar", "trash set.part3.rar", "idle"}));
    EXPECT_EQ(readFile(dir / "set.bin"), patterned(50000));
}

TEST_F(AppDelegateTest, SkippedEntriesAlertComesBeforeTrashAndThenReveal) {
    makeTree(dir / "src", {{"links/file.txt", "kept"}});
    fs::create_symlink("/etc/passwd", dir / "src/links/escape");
    const fs::path archive = rar(dir / "src", (dir / "links.rar").string(), {"-ol"}, {"links"});
    AppHarness app(dir.path());
    app.settings->setMoveArchiveToTrash(true);
    app.settings->setRevealInFinder(true);
    app.delegate->willFinishLaunching();
    app.delegate->open({archive});

    ASSERT_TRUE(app.waitForIdle());
    EXPECT_EQ(app.log, (Log{"start links.rar 1/1", "finish links.rar", "skipped links.rar 1",
                            "trash links.rar", "reveal links", "idle"}));
    EXPECT_EQ(readFile(dir / "links/file.txt"), "kept");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "links/escape")));
}

TEST_F(AppDelegateTest, UnwritableDestinationAndChosenFolderQueueTheArchiveAgainThere) {
    singleFileArchive(dir / "src", "a", "alpha");
    ReadOnlyView readOnly(dir / "src", dir / "ro");
    if (!readOnly.ready()) {
        GTEST_SKIP() << "cannot make a read-only directory here";
    }
    fs::create_directories(dir / "chosen");
    AppHarness app(dir.path());
    app.settings->setAlwaysCreateFolder(true);
    app.chosenFolder = dir / "chosen";
    app.delegate->willFinishLaunching();
    app.delegate->open({dir / "ro/a.rar"});

    ASSERT_TRUE(app.waitForIdle());
    const std::string refusal = ExtractionError::destinationNotWritable(dir / "ro").what();
    EXPECT_EQ(app.log, (Log{"start a.rar 1/1", "finish a.rar", "alert a.rar " + refusal,
                            "start a.rar 2/2", "finish a.rar", "idle"}));
    ASSERT_EQ(app.delegate->finishedOptions.size(), 2u);
    EXPECT_EQ(
        app.delegate->finishedOptions[1],
        (ExtractionOptions{.alwaysCreateFolder = true, .destinationDirectory = dir / "chosen"}));
    EXPECT_EQ(readFile(dir / "chosen/a/a.txt"), "alpha");
}

TEST_F(AppDelegateTest, ArchiveOpenedWhileAnAlertIsUpStartsOnceItIsDismissed) {
    const fs::path broken = dir / "broken.rar";
    writeFile(broken, "not an archive at all");
    const fs::path plain = singleFileArchive(dir.path(), "plain", "open data");
    AppHarness app(dir.path());
    app.duringAlert = [&] {
        app.delegate->open({plain});
        // The alert's own event loop runs while the user reads it: whatever
        // the open posted is handled, yet nothing starts.
        QCoreApplication::processEvents();
    };
    app.delegate->willFinishLaunching();
    app.delegate->open({broken});

    ASSERT_TRUE(app.waitForIdle());
    ASSERT_GE(app.log.size(), 3u);
    EXPECT_EQ(app.log[2].rfind("alert broken.rar ", 0), 0u) << app.log[2];
    app.log.erase(app.log.begin() + 2);
    EXPECT_EQ(app.log, (Log{"start broken.rar 1/1", "finish broken.rar", "dismissed",
                            "start plain.rar 2/2", "finish plain.rar", "idle"}));
    EXPECT_EQ(readFile(dir / "plain.txt"), "open data");
}

TEST_F(AppDelegateTest, EveryFailureButCancellationIsShownWhateverWasThrown) {
    AppHarness app(dir.path());
    app.delegate->willFinishLaunching();
    ExtractionQueue& queue = app.delegate->queue();
    const fs::path archive = dir / "a.rar";
    const fs::filesystem_error unlisted("cannot list the staging directory", dir / "x",
                                        std::make_error_code(std::errc::io_error));

    app.delegate->didFinish(queue, archive, {},
                            ExtractionOutcome::failure(std::make_exception_ptr(unlisted)));
    app.delegate->didFinish(queue, archive, {},
                            ExtractionOutcome::failure(std::make_exception_ptr(42)));
    app.delegate->didFinish(
        queue, archive, {},
        ExtractionOutcome::failure(std::make_exception_ptr(ExtractionError::cancelled())));
    app.delegate->didFinish(
        queue, archive, {},
        ExtractionOutcome::failure(std::make_exception_ptr(ExtractionError::wrongPassword())));

    EXPECT_EQ(app.log,
              (Log{"finish a.rar", std::string("alert a.rar ") + unlisted.what(), "finish a.rar",
                   "alert a.rar unknown error", "finish a.rar", "finish a.rar",
                   std::string("alert a.rar ") + ExtractionError::wrongPassword().what()}));
}

TEST_F(AppDelegateTest, APasswordThatOpenedOneArchiveIsTriedOnTheNextBeforeAskingAndForgotten) {
    const fs::path first = singleFileArchive(dir.path(), "x", "one", {"-m0", "-psecret"});
    const fs::path second = singleFileArchive(dir.path(), "y", "two", {"-m0", "-psecret"});
    const fs::path third = singleFileArchive(dir.path(), "z", "three", {"-m0", "-pother"});
    AppHarness app(dir.path());
    std::vector<PasswordRequest> asked;
    app.onPassword = [&](const PasswordRequest& request) -> std::optional<std::string> {
        asked.push_back(request);
        return request.archiveName == "z.rar" ? "other" : "secret";
    };
    app.delegate->willFinishLaunching();
    app.delegate->open({first, second, third});
    ASSERT_TRUE(app.waitForIdle());
    EXPECT_EQ(app.log,
              (Log{"start x.rar 1/3", "password x.rar", "finish x.rar", "start y.rar 2/3",
                   "finish y.rar", "start z.rar 3/3", "password z.rar", "finish z.rar", "idle"}));
    // The remembered password was refused, but the user is asked afresh.
    EXPECT_EQ(asked, (std::vector<PasswordRequest>{{"x.rar", false}, {"z.rar", false}}));
    EXPECT_EQ(readFile(dir / "y.txt"), "two");
    EXPECT_EQ(readFile(dir / "z.txt"), "three");

    // A new batch starts without it.
    app.delegate->open({second});
    ASSERT_TRUE(app.waitForIdle(2));
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_EQ(readFile(dir / "y 2.txt"), "two");
}

TEST_F(AppDelegateTest, OnlySuccessesWithoutAWindowAreNotifiedSayingWhereAndShowItReveals) {
    const fs::path archive = singleFileArchive(dir.path(), "a", "alpha");
    AppHarness app(dir.path());
    app.delegate->willFinishLaunching();
    app.delegate->open({archive});
    ASSERT_TRUE(app.waitForIdle());
    ASSERT_EQ(app.notifications.size(), 1u);
    EXPECT_EQ(app.notifications[0].summary, "Extracted “a.rar”");
    EXPECT_EQ(app.notifications[0].body, "in " + dir.path().filename().string());
    ASSERT_TRUE(app.notifications[0].onShow);
    app.notifications[0].onShow();
    EXPECT_EQ(app.log.back(), "reveal a.txt");

    // A failure has its alert and no notification; a cancellation says
    // nothing; a job whose window was up needs no word.
    ExtractionQueue& queue = app.delegate->queue();
    const auto failure = [](const ExtractionError& error) {
        return ExtractionOutcome::failure(std::make_exception_ptr(error));
    };
    app.delegate->didFinish(queue, dir / "b.rar", {}, failure(ExtractionError::wrongPassword()));
    app.delegate->didFinish(queue, dir / "c.rar", {}, failure(ExtractionError::cancelled()));
    app.delegate->progressWindow().window()->show();
    app.delegate->didFinish(queue, dir / "d.rar", {}, failure(ExtractionError::wrongPassword()));
    app.delegate->progressWindow().finish();
    EXPECT_EQ(app.notifications.size(), 1u);
    EXPECT_EQ(std::count_if(app.log.begin(), app.log.end(),
                            [](const std::string& line) { return line.starts_with("alert"); }),
              2);
}

TEST_F(AppDelegateTest, QuittingWaitsWhileANotificationCanStillBeClicked) {
    const fs::path archive = singleFileArchive(dir.path(), "a", "alpha");
    AppHarness app(dir.path());
    app.notificationAwaited = true;
    app.delegate->willFinishLaunching();
    app.delegate->open({archive});
    ASSERT_TRUE(app.waitForIdle());
    ASSERT_TRUE(app.elapseIdleDelay());
    EXPECT_EQ(app.quitCount, 0);
    // Asked again one delay later.
    EXPECT_TRUE(app.delegate->isIdleCheckPending());
    app.notificationAwaited = false;
    ASSERT_TRUE(app.elapseIdleDelay());
    EXPECT_EQ(app.quitCount, 1);
}

TEST_F(AppDelegateTest, TerminationCancelsTheRunningJobDropsTheRestAndQuitsOnce) {
    const fs::path locked = singleFileArchive(dir.path(), "locked", "secret data", {"-psecret"});
    const fs::path plain = singleFileArchive(dir.path(), "plain", "open data");
    AppHarness app(dir.path());
    // The signal arrives while the job waits for its password.
    app.onPassword = [&app](const PasswordRequest&) -> std::optional<std::string> {
        app.delegate->terminate();
        return "secret";
    };
    app.delegate->willFinishLaunching();
    app.delegate->open({locked, plain});
    ASSERT_TRUE(app.waitForIdle());
    app.delegate->open({plain});  // too late: nothing starts any more
    // Nor does the idle delay running out quit a second time.
    app.idleTimer->elapse();
    QCoreApplication::processEvents();
    EXPECT_EQ(app.log, (Log{"start locked.rar 1/2", "password locked.rar", "quit",
                            "finish locked.rar", "idle"}));
    EXPECT_EQ(
        directoryNames(dir.path()),
        (std::set<std::string>{"locked.rar", "plain.rar", "sources-locked", "sources-plain"}));
}

TEST_F(AppDelegateTest, OptionsFollowTheFolderPreferenceAtTheMomentOfOpening) {
    const fs::path first = singleFileArchive(dir.path(), "a", "alpha");
    const fs::path second = singleFileArchive(dir.path(), "b", "beta");
    AppHarness app(dir.path());
    app.delegate->willFinishLaunching();
    app.delegate->open({first});
    app.settings->setAlwaysCreateFolder(true);
    app.delegate->open({second});

    ASSERT_TRUE(app.waitForIdle());
    ASSERT_EQ(app.delegate->finishedOptions.size(), 2u);
    EXPECT_EQ(app.delegate->finishedOptions[0], ExtractionOptions{});
    EXPECT_EQ(app.delegate->finishedOptions[1], (ExtractionOptions{true, std::nullopt}));
    EXPECT_EQ(readFile(dir / "a.txt"), "alpha");
    EXPECT_EQ(readFile(dir / "b/b.txt"), "beta");
}

}  // namespace
}  // namespace tovani::testing
