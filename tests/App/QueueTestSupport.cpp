#include "App/QueueTestSupport.h"

#include <QApplication>
#include <QtTest/QTest>
#include <thread>

#include "support/RarTool.h"

namespace tovani::testing::queue {

namespace {

std::string describe(const ExtractionOutcome& outcome) {
    if (outcome.succeeded()) {
        return "ok";
    }
    try {
        std::rethrow_exception(outcome.error());
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown exception";
    }
}

std::string nameOf(const std::filesystem::path& archive) {
    return archive.filename().string();
}

}  // namespace

void ensureApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "AppTests";
    static char* argv[] = {name, nullptr};
    // A widget application, as other tests of this program need one; it lives
    // until the process ends.
    new QApplication(argc, argv);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

void RecordingDelegate::didStart(ExtractionQueue& queue, const std::filesystem::path& archive,
                                 std::int64_t position, std::int64_t total) {
    log.push_back("start " + nameOf(archive) + " " + std::to_string(position) + "/" +
                  std::to_string(total));
    started.push_back(archive);
    if (onStart) {
        onStart(queue, position);
    }
}

std::optional<std::string> RecordingDelegate::passwordFor(ExtractionQueue&,
                                                          const PasswordRequest& request) {
    log.push_back("password " + request.archiveName + (request.isRetry ? " retry" : ""));
    passwordRequests.push_back(request);
    if (passwordAnswers.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> answer = passwordAnswers.front();
    passwordAnswers.pop_front();
    return answer;
}

void RecordingDelegate::didReport(ExtractionQueue& queue, const ExtractionProgress& progress) {
    reports.push_back(progress);
    if (onReport) {
        onReport(queue, progress);
    }
}

void RecordingDelegate::didFinish(ExtractionQueue& queue, const std::filesystem::path& archive,
                                  const ExtractionOptions& options,
                                  const ExtractionOutcome& outcome) {
    log.push_back("finish " + nameOf(archive) + " " + describe(outcome));
    finished.push_back({archive, options, outcome});
    if (onFinish) {
        onFinish(queue, archive);
    }
}

void RecordingDelegate::didBecomeIdle(ExtractionQueue&) {
    log.push_back("idle");
    ++idleCount;
}

ArchiveListing oneFileListing(const std::filesystem::path& archive, const std::string& path,
                              std::uint64_t size) {
    ArchiveListing listing;
    ArchiveEntry entry;
    entry.path = path;
    entry.kind = ArchiveEntry::File{};
    entry.unpackedSize = size;
    entry.packedSize = size;
    entry.posixPermissions = 0644;
    listing.entries.push_back(entry);
    listing.files.push_back(archive);
    return listing;
}

std::shared_ptr<ScriptedEngine> slowOneFileEngine(
    std::function<void()> beforeByte, std::function<void(const ExtractionError&)> onStopped) {
    auto engine = std::make_shared<ScriptedEngine>();
    engine->onList = [](const std::filesystem::path& archive, const std::optional<std::string>&) {
        return oneFileListing(archive, "x.bin", 1'000'000);
    };
    engine->onExtract = [beforeByte, onStopped](const std::filesystem::path&,
                                                const std::optional<std::string>&,
                                                ArchiveEntrySink& into) {
        const ArchiveEntry entry = oneFileListing("", "x.bin", 1'000'000).entries[0];
        EXPECT_TRUE(into.begin(entry));
        const std::byte chunk[1] = {std::byte{1}};
        try {
            for (int i = 0; i < 20000; ++i) {
                beforeByte();
                into.write(chunk);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        } catch (const ExtractionError& error) {
            onStopped(error);
            throw;
        }
        into.finish(entry);
    };
    return engine;
}

bool spinUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::filesystem::path QueueFixture::makeArchive(const std::string& name,
                                                const std::string& contents,
                                                std::vector<std::string> switches) {
    makeTree(sources.path(), {{name + ".txt", contents}});
    return rar(sources.path(), (dir / (name + ".rar")).string(), std::move(switches),
               {name + ".txt"});
}

}  // namespace tovani::testing::queue
