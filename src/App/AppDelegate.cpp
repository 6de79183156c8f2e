#include "App/AppDelegate.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>
#include <stdexcept>

#include "Settings/AppSettings.h"
#include "Settings/SettingsWindowController.h"
#include "UI/DockPresence.h"
#include "UI/ErrorPresenter.h"
#include "UI/MainMenu.h"
#include "UI/OrdinaryWindow.h"
#include "UI/PasswordPrompt.h"

namespace tovani {

namespace fs = std::filesystem;

namespace {

bool anyWindowVisible() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows) {
        if (window->isVisible() && isOrdinaryWindow(*window)) {
            return true;
        }
    }
    return false;
}

}  // namespace

AppDelegate::Hooks AppDelegate::Hooks::standard() {
    Hooks hooks;
    hooks.presentError = [](const std::exception& error, const fs::path& archive) {
        return ErrorPresenter::present(error, archive);
    };
    hooks.presentSkipped = [](const std::vector<SkippedEntry>& skipped, const fs::path& archive) {
        ErrorPresenter::presentSkipped(skipped, archive);
    };
    hooks.askPassword = [](const PasswordRequest& request) { return PasswordPrompt::run(request); };
    hooks.makeSettingsWindow = [](AppSettings& settings) {
        return std::make_unique<SettingsWindowController>(settings);
    };
    hooks.quit = [] { QCoreApplication::quit(); };
    hooks.makeNotifier = [] { return makeDesktopNotifier(); };
    return hooks;
}

AppDelegate::AppDelegate(AppSettings& settings, std::unique_ptr<FileManagerActions> fileManager,
                         Hooks hooks, QObject* parent)
    : QObject(parent),
      settings_(settings),
      fileManager_(fileManager ? std::move(fileManager) : makeDesktopFileManager()),
      hooks_(std::move(hooks)),
      // Owned by the delegate: once the delegate is gone, it never fires.
      idleTimer_(hooks_.makeIdleTimer ? hooks_.makeIdleTimer() : makeDelayTimer()) {
    if (hooks_.makeNotifier) {
        notifier_ = hooks_.makeNotifier();
    }
}

AppDelegate::~AppDelegate() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->removeEventFilter(this);
    }
    queue_.setDelegate(nullptr);
}

void AppDelegate::willFinishLaunching() {
    menuBar_ = MainMenu::make(QCoreApplication::applicationName(), [this] { showSettings(); });
    MainMenu::install(*menuBar_);
    queue_.setDelegate(this);
    // Held weakly: the window outlives nothing, but the callable may be
    // called after the delegate began to go away.
    QPointer<AppDelegate> self(this);
    progressWindow_.setOnCancel([self] {
        if (self) {
            self->queue_.cancelCurrent();
        }
    });
    progressWindow_.setOnCancelAll([self] {
        if (self) {
            self->queue_.cancelAll();
        }
    });
    QCoreApplication::instance()->installEventFilter(this);
}

void AppDelegate::didFinishLaunching() {
    if (queue_.isIdle()) {
        cancelIdleCheck();
        settingsWindow().show();
    }
}

void AppDelegate::open(const std::vector<fs::path>& archives) {
    if (terminating_) {
        return;
    }
    cancelIdleCheck();
    if (finishingJob_) {
        deferredArchives_.insert(deferredArchives_.end(), archives.begin(), archives.end());
        return;
    }
    addToQueue(archives);
}

void AppDelegate::addToQueue(const std::vector<fs::path>& archives) {
    queue_.add(archives, [this](const fs::path&) {
        ExtractionOptions options;
        options.alwaysCreateFolder = settings_.alwaysCreateFolder();
        return options;
    });
}

void AppDelegate::reopen() {
    cancelIdleCheck();
    settingsWindow().show();
}

void AppDelegate::showSettings() {
    cancelIdleCheck();
    settingsWindow().show();
}

void AppDelegate::terminate() {
    if (terminating_) {
        return;
    }
    terminating_ = true;
    deferredArchives_.clear();
    queue_.cancelAll();
    emit quitting();
    // Ends open dialogs as well: a password prompt then answers nothing,
    // which ends its job as cancelled.
    hooks_.quit();
}

bool AppDelegate::isIdleCheckPending() const {
    return idleTimer_->isActive();
}

void AppDelegate::didStart(ExtractionQueue&, const fs::path& archive, std::int64_t position,
                           std::int64_t total) {
    cancelIdleCheck();
    batchPassword_.jobStarted();
    progressWindow_.begin(QFile::decodeName(archive.filename().c_str()), position, total);
}

std::optional<std::string> AppDelegate::passwordFor(ExtractionQueue&,
                                                    const PasswordRequest& request) {
    if (terminating_) {
        return std::nullopt;
    }
    return batchPassword_.answer(request, hooks_.askPassword);
}

void AppDelegate::didReport(ExtractionQueue&, const ExtractionProgress& progress) {
    progressWindow_.update(progress);
}

void AppDelegate::didFinish(ExtractionQueue& queue, const fs::path& archive,
                            const ExtractionOptions& options, const ExtractionOutcome& outcome) {
    finishingJob_ = true;
    // Whatever follows, the window is not due for a job that has ended.
    progressWindow_.jobEnded();
    if (outcome.result() != nullptr) {
        batchPassword_.jobSucceeded();
    } else {
        batchPassword_.jobFailed();
    }
    if (terminating_) {
        finishingJob_ = false;
        return;
    }
    if (!progressWindow_.window()->isVisible()) {
        notifyOutcome(archive, outcome);
    }
    if (const ExtractionResult* result = outcome.result()) {
        handleSuccess(archive, *result);
    } else {
        handleFailure(queue, archive, options, outcome.error());
    }
    finishingJob_ = false;
    if (!deferredArchives_.empty()) {
        const std::vector<fs::path> archives = std::move(deferredArchives_);
        deferredArchives_.clear();
        addToQueue(archives);
    }
}

void AppDelegate::didBecomeIdle(ExtractionQueue&) {
    batchPassword_.batchEnded();
    progressWindow_.finish();
    scheduleIdleCheck();
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::Close || type == QEvent::Hide) && watched->isWidgetType() &&
        isOrdinaryWindow(*static_cast<QWidget*>(watched))) {
        windowWillClose();
    }
    return false;
}

SettingsWindowController& AppDelegate::settingsWindow() {
    if (!settingsWindow_) {
        settingsWindow_ = hooks_.makeSettingsWindow(settings_);
    }
    return *settingsWindow_;
}

void AppDelegate::handleSuccess(const fs::path& archive, const ExtractionResult& result) {
    hooks_.presentSkipped(result.skipped(), archive);
    if (settings_.moveArchiveToTrash()) {
        // A volume that cannot be moved stays where it is, which is safe: the
        // extraction has succeeded all the same, and the rest still go.
        for (const fs::path& file : result.archiveFiles()) {
            (void)fileManager_->moveToTrash(file);
        }
    }
    if (settings_.revealInFinder()) {
        fileManager_->reveal(result.output());
    }
}

void AppDelegate::notifyOutcome(const fs::path& archive, const ExtractionOutcome& outcome) {
    // A failure has its alert, which says all; a second word about it in a
    // notification would only repeat it.
    const ExtractionResult* result = outcome.result();
    if (!notifier_ || result == nullptr) {
        return;
    }
    const QString name = QFile::decodeName(archive.filename().c_str());
    const fs::path output = result->output();
    // Where the files went is what a user asks first.
    const QString folder = QFile::decodeName(output.parent_path().filename().c_str());
    QPointer<AppDelegate> self(this);
    notifier_->notify(tr("Extracted “%1”").arg(name), tr("in %1").arg(folder), [self, output] {
        if (self) {
            self->fileManager_->reveal(output);
        }
    });
}

void AppDelegate::handleFailure(ExtractionQueue& queue, const fs::path& archive,
                                const ExtractionOptions& options, std::exception_ptr error) {
    std::optional<fs::path> folder;
    try {
        std::rethrow_exception(error);
    } catch (const ExtractionError& failure) {
        if (failure == ExtractionError::cancelled()) {
            return;
        }
        folder = hooks_.presentError(failure, archive);
    } catch (const std::exception& failure) {
        folder = hooks_.presentError(failure, archive);
    } catch (...) {
        // Whatever was thrown still earns an alert.
        folder = hooks_.presentError(std::runtime_error("unknown error"), archive);
    }
    if (folder) {
        ExtractionOptions retry = options;
        retry.destinationDirectory = *folder;
        queue.add({archive}, [retry](const fs::path&) { return retry; });
    }
}

void AppDelegate::windowWillClose() {
    // After the close has been handled, so that the window no longer counts.
    QTimer::singleShot(0, this, [] { DockPresence::refresh(); });
    scheduleIdleCheck();
}

void AppDelegate::cancelIdleCheck() {
    idleTimer_->stop();
}

void AppDelegate::scheduleIdleCheck() {
    idleTimer_->start(idleDelay, [this] { quitIfIdle(); });
}

void AppDelegate::quitIfIdle() {
    if (terminating_) {
        return;  // asked to quit already
    }
    if (!queue_.isIdle() || !deferredArchives_.empty() || anyWindowVisible()) {
        return;
    }
    // A notification's "show it" is served while it can still be chosen.
    if (notifier_ && notifier_->awaitsAction()) {
        scheduleIdleCheck();
        return;
    }
    emit quitting();
    hooks_.quit();
}

}  // namespace tovani
