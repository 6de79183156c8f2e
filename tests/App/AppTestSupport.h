// Helpers for the application tests: an AppDelegate whose dialogs, settings
// window, file manager and quitting are recorded in one log instead of
// reaching the user, and small archive builders.
//
//   AppHarness app(dir);                 // settings file inside dir
//   app.settings->setMoveArchiveToTrash(true);
//   app.delegate->willFinishLaunching();
//   app.delegate->open({archive});
//   ASSERT_TRUE(app.waitForIdle());
//   ASSERT_TRUE(app.elapseIdleDelay());   // the app quits now
//   EXPECT_EQ(app.log, (Log{"start a.rar 1/1", "trash a.rar", "idle", "quit"}));
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "App/AppDelegate.h"
#include "App/FileManagerActions.h"
#include "App/Notifier.h"
#include "Settings/AppSettings.h"
#include "support/ManualDelayTimer.h"

namespace tovani::testing {

using Log = std::vector<std::string>;

// Records each call as "trash NAME" or "reveal NAME"; files named in
// failingTrash stay in place and report failure.
class RecordingFileManager : public FileManagerActions {
public:
    explicit RecordingFileManager(Log& log, std::set<std::string> failingTrash = {})
        : log_(log), failingTrash_(std::move(failingTrash)) {}
    bool moveToTrash(const std::filesystem::path& file) override;
    void reveal(const std::filesystem::path& item) override;

private:
    Log& log_;
    std::set<std::string> failingTrash_;
};

// Keeps each notification's summary and its "show it" action, if any.
class RecordingNotifier : public Notifier {
public:
    struct Sent {
        std::string summary;
        std::string body;
        std::function<void()> onShow;
    };
    RecordingNotifier(std::vector<Sent>& sent, const bool& awaiting)
        : sent_(sent), awaiting_(awaiting) {}
    void notify(const QString& summary, const QString& body,
                std::function<void()> onShow) override {
        sent_.push_back({summary.toStdString(), body.toStdString(), std::move(onShow)});
    }
    bool awaitsAction() const override { return awaiting_; }

private:
    std::vector<Sent>& sent_;
    const bool& awaiting_;
};

// Adds "start NAME POSITION/TOTAL", "finish NAME" and "idle" to the log, and
// keeps the options of every finished job.
class ObservedDelegate : public AppDelegate {
public:
    ObservedDelegate(AppSettings& settings, std::unique_ptr<FileManagerActions> files, Hooks hooks,
                     Log& log)
        : AppDelegate(settings, std::move(files), std::move(hooks)), log_(log) {}

    void didStart(ExtractionQueue& queue, const std::filesystem::path& archive,
                  std::int64_t position, std::int64_t total) override;
    void didFinish(ExtractionQueue& queue, const std::filesystem::path& archive,
                   const ExtractionOptions& options, const ExtractionOutcome& outcome) override;
    void didBecomeIdle(ExtractionQueue& queue) override;

    std::vector<ExtractionOptions> finishedOptions;
    int idleCount = 0;

private:
    Log& log_;
};

// One delegate over a settings file in `directory`, with every hook recorded:
// "alert NAME WHAT", "skipped NAME COUNT" (only when not empty),
// "password NAME", "quit".
struct AppHarness {
    explicit AppHarness(const std::filesystem::path& directory,
                        std::set<std::string> failingTrash = {});
    ~AppHarness();

    bool waitForIdle(int count = 1);
    // Lets the idle delay run out once it is running, after checking that it
    // is the app's delay; false when it never starts.
    bool elapseIdleDelay();

    Log log;
    std::unique_ptr<AppSettings> settings;
    // What the folder dialog answers after a failure alert.
    std::optional<std::filesystem::path> chosenFolder;
    // Runs while the failure alert is up; "dismissed" is logged after it.
    std::function<void()> duringAlert;
    // Runs for a password question; absent answers "no password".
    std::function<std::optional<std::string>(const PasswordRequest&)> onPassword;
    int quitCount = 0;
    // The delegate's idle delay, which runs out only when the test says.
    ManualDelayTimer* idleTimer = nullptr;
    // Notifications, kept apart from the log.
    std::vector<RecordingNotifier::Sent> notifications;
    // What the notifier answers when asked whether an action may still come.
    bool notificationAwaited = false;
    std::unique_ptr<ObservedDelegate> delegate;
};

// NAME.rar in directory, holding NAME.txt with the contents (made in a
// sources directory beside it).
std::filesystem::path singleFileArchive(const std::filesystem::path& directory,
                                        const std::string& name, const std::string& contents,
                                        std::vector<std::string> switches = {"-m0"});

}  // namespace tovani::testing
