#include "App/AppTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QString>

#include "App/QueueTestSupport.h"
#include "Settings/DefaultAppStatus.h"
#include "Settings/SettingsWindowController.h"
#include "support/RarTool.h"

namespace tovani::testing {

namespace fs = std::filesystem;

namespace {

std::string nameOf(const fs::path& path) {
    return path.filename().string();
}

}  // namespace

bool RecordingFileManager::moveToTrash(const fs::path& file) {
    log_.push_back("trash " + nameOf(file));
    return failingTrash_.count(nameOf(file)) == 0;
}

void RecordingFileManager::reveal(const fs::path& item) {
    log_.push_back("reveal " + nameOf(item));
}

void ObservedDelegate::didStart(ExtractionQueue& queue, const fs::path& archive,
                                std::int64_t position, std::int64_t total) {
    log_.push_back("start " + nameOf(archive) + " " + std::to_string(position) + "/" +
                   std::to_string(total));
    AppDelegate::didStart(queue, archive, position, total);
}

void ObservedDelegate::didFinish(ExtractionQueue& queue, const fs::path& archive,
                                 const ExtractionOptions& options,
                                 const ExtractionOutcome& outcome) {
    log_.push_back("finish " + nameOf(archive));
    finishedOptions.push_back(options);
    AppDelegate::didFinish(queue, archive, options, outcome);
}

void ObservedDelegate::didBecomeIdle(ExtractionQueue& queue) {
    log_.push_back("idle");
    ++idleCount;
    AppDelegate::didBecomeIdle(queue);
}

AppHarness::AppHarness(const fs::path& directory, std::set<std::string> failingTrash) {
    queue::ensureApplication();
    settings =
        std::make_unique<AppSettings>(QFile::decodeName((directory / "settings.conf").c_str()));
    AppDelegate::Hooks hooks;
    hooks.presentError = [this](const std::exception& error, const fs::path& archive) {
        log.push_back("alert " + nameOf(archive) + " " + error.what());
        if (duringAlert) {
            duringAlert();
            log.push_back("dismissed");
        }
        return chosenFolder;
    };
    hooks.presentSkipped = [this](const std::vector<SkippedEntry>& skipped,
                                  const fs::path& archive) {
        if (!skipped.empty()) {
            log.push_back("skipped " + nameOf(archive) + " " + std::to_string(skipped.size()));
        }
    };
    hooks.askPassword = [this](const PasswordRequest& request) -> std::optional<std::string> {
        log.push_back("password " + request.archiveName);
        return onPassword ? onPassword(request) : std::nullopt;
    };
    // A status over a tool that always answers "no default", so the desktop's
    // own records are neither read nor written.
    hooks.makeSettingsWindow = [](AppSettings& store) {
        return std::make_unique<SettingsWindowController>(
            store, new DefaultAppStatus(QStringLiteral("org.ostrel.Test.desktop"),
                                        QStringLiteral("true")));
    };
    hooks.makeNotifier = [this] {
        return std::make_unique<RecordingNotifier>(notifications, notificationAwaited);
    };
    hooks.quit = [this] {
        log.push_back("quit");
        ++quitCount;
    };
    hooks.makeIdleTimer = [this] {
        auto timer = std::make_unique<ManualDelayTimer>();
        idleTimer = timer.get();
        return timer;
    };
    delegate = std::make_unique<ObservedDelegate>(
        *settings, std::make_unique<RecordingFileManager>(log, std::move(failingTrash)),
        std::move(hooks), log);
}

AppHarness::~AppHarness() {
    delegate.reset();
}

bool AppHarness::elapseIdleDelay() {
    if (!queue::waitFor([this] { return idleTimer->isActive(); })) {
        return false;
    }
    EXPECT_EQ(idleTimer->delay(), AppDelegate::idleDelay);
    idleTimer->elapse();
    return true;
}

bool AppHarness::waitForIdle(int count) {
    return queue::waitFor([this, count] { return delegate->idleCount >= count; });
}

fs::path singleFileArchive(const fs::path& directory, const std::string& name,
                           const std::string& contents, std::vector<std::string> switches) {
    const fs::path sources = directory / ("sources-" + name);
    makeTree(sources, {{name + ".txt", contents}});
    return rar(sources, (directory / (name + ".rar")).string(), std::move(switches),
               {name + ".txt"});
}

}  // namespace tovani::testing
