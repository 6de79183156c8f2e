// AppDelegate runs the application: it wires the extraction queue to the
// progress window, receives the archives the user opens, decides what follows
// each extraction (alerts, the Trash, revealing the result), and ends the
// process once there has been nothing to do and nothing on screen for 2 s.
//
//   AppDelegate delegate(AppSettings::shared());
//   delegate.willFinishLaunching();           // menu, queue, window watching
//   delegate.open({"/home/me/movie.part2.rar"});  // files from the command line
//   delegate.didFinishLaunching();            // settings window when idle
//   app.exec();                               // quits by itself when idle
//
// Everything happens on the main thread.
#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/BatchPassword.h"
#include "App/ExtractionQueue.h"
#include "App/ExtractionQueueDelegate.h"
#include "App/FileManagerActions.h"
#include "App/Notifier.h"
#include "TovaniCore/SkippedEntry.h"
#include "UI/DelayTimer.h"
#include "UI/ProgressWindowController.h"

class QMenuBar;
class QWidget;

namespace tovani {

class AppSettings;
class SettingsWindowController;

class AppDelegate : public QObject, public ExtractionQueueDelegate {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds idleDelay{2000};

    // The steps that run modal dialogs, make the settings window or end the
    // process. The defaults are the real ones; tests replace them.
    struct Hooks {
        std::function<std::optional<std::filesystem::path>(const std::exception&,
                                                           const std::filesystem::path&)>
            presentError;
        std::function<void(const std::vector<SkippedEntry>&, const std::filesystem::path&)>
            presentSkipped;
        std::function<std::optional<std::string>(const PasswordRequest&)> askPassword;
        std::function<std::unique_ptr<SettingsWindowController>(AppSettings&)> makeSettingsWindow;
        std::function<void()> quit;
        // Makes the notifier for jobs that end without a window; without
        // one, nothing is notified.
        std::function<std::unique_ptr<Notifier>()> makeNotifier;
        // Makes the timer for the idle delay; without one, a real timer.
        std::function<std::unique_ptr<DelayTimer>()> makeIdleTimer;

        static Hooks standard();
    };

    // `settings` must outlive the delegate. Without `fileManager` the
    // desktop's own is used.
    explicit AppDelegate(AppSettings& settings,
                         std::unique_ptr<FileManagerActions> fileManager = {},
                         Hooks hooks = Hooks::standard(), QObject* parent = nullptr);
    ~AppDelegate() override;

    // Installs the menu, becomes the queue's delegate, wires the progress
    // window's Cancel to the queue and starts watching windows close.
    void willFinishLaunching();
    // Shows the settings window when launching brought nothing to extract.
    void didFinishLaunching();

    // An open request: every file goes to the queue, in order, with options
    // from the current preferences. A request that arrives while the alerts of
    // a finished job are up joins the queue once they are dismissed, so that
    // no job starts behind an alert.
    void open(const std::vector<std::filesystem::path>& archives);
    // A reopen request (a launch without files while running).
    void reopen();
    // The menu's "Settings…".
    void showSettings();
    // SIGTERM or SIGHUP: nothing more starts, the running job is cancelled
    // (its workspace goes with it) and the application quits; the queue waits
    // for the job as it is destroyed.
    void terminate();

    ExtractionQueue& queue() { return queue_; }
    ProgressWindowController& progressWindow() { return progressWindow_; }
    // Null until the settings window was first needed.
    SettingsWindowController* settingsWindowIfMade() const { return settingsWindow_.get(); }
    bool isIdleCheckPending() const;

    // ExtractionQueueDelegate
    void didStart(ExtractionQueue& queue, const std::filesystem::path& archive,
                  std::int64_t position, std::int64_t total) override;
    std::optional<std::string> passwordFor(ExtractionQueue& queue,
                                           const PasswordRequest& request) override;
    void didReport(ExtractionQueue& queue, const ExtractionProgress& progress) override;
    void didFinish(ExtractionQueue& queue, const std::filesystem::path& archive,
                   const ExtractionOptions& options, const ExtractionOutcome& outcome) override;
    void didBecomeIdle(ExtractionQueue& queue) override;

signals:
    // Emitted right before the delegate asks the application to quit, so
    // that nothing accepts new work the process will not do.
    void quitting();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    SettingsWindowController& settingsWindow();
    void handleSuccess(const std::filesystem::path& archive, const ExtractionResult& result);
    void handleFailure(ExtractionQueue& queue, const std::filesystem::path& archive,
                       const ExtractionOptions& options, std::exception_ptr error);
    void windowWillClose();
    void cancelIdleCheck();
    void scheduleIdleCheck();
    void quitIfIdle();
    void addToQueue(const std::vector<std::filesystem::path>& archives);
    void notifyOutcome(const std::filesystem::path& archive, const ExtractionOutcome& outcome);

    AppSettings& settings_;
    std::unique_ptr<FileManagerActions> fileManager_;
    Hooks hooks_;
    ProgressWindowController progressWindow_;
    std::unique_ptr<SettingsWindowController> settingsWindow_;
    std::unique_ptr<QMenuBar> menuBar_;
    std::unique_ptr<Notifier> notifier_;
    BatchPassword batchPassword_;
    bool terminating_ = false;
    std::unique_ptr<DelayTimer> idleTimer_;
    // Last, so that it goes first: its running job ends before the windows go.
    ExtractionQueue queue_;
    bool finishingJob_ = false;
    std::vector<std::filesystem::path> deferredArchives_;
};

}  // namespace tovani
