#include "App/QueueTestSupport.h"

#include <QApplication>
#include <QtTest/QTest>

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

}  // namespace tovani::testing::queue
