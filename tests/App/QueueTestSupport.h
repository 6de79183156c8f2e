// Helpers for the extraction queue tests: the process's application object, a
// delegate that records every call, a scripted engine for the cases that need
// exact control of timing, and waiting on the event loop.
//
//   queue::ensureApplication();
//   queue::RecordingDelegate delegate;
//   ExtractionQueue extractions;
//   extractions.setDelegate(&delegate);
//   extractions.add({archive}, queue::defaultOptions);
//   ASSERT_TRUE(queue::waitFor([&] { return delegate.idleCount > 0; }));
//   EXPECT_EQ(delegate.log.back(), "idle");
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QObject>

#include "App/ExtractionQueue.h"
#include "App/ExtractionQueueDelegate.h"
#include "TovaniCore/ArchiveEngine.h"
#include "support/TempDirectory.h"

namespace tovani::testing::queue {

// One QApplication for the whole test program (offscreen), made on first use.
void ensureApplication();

// Runs the event loop until condition holds; false after the timeout.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));

inline ExtractionOptions defaultOptions(const std::filesystem::path&) {
    return {};
}

struct FinishedJob {
    std::filesystem::path archive;
    ExtractionOptions options;
    ExtractionOutcome outcome;
};

// Records every call in order. log holds one line per call:
//   "start NAME POSITION/TOTAL", "password NAME [retry]", "finish NAME ok",
//   "finish NAME <ExtractionError text>", "finish NAME <other exception text>",
//   "idle". Progress reports go to reports only, as their number varies.
class RecordingDelegate : public QObject, public ExtractionQueueDelegate {
public:
    void didStart(ExtractionQueue& queue, const std::filesystem::path& archive,
                  std::int64_t position, std::int64_t total) override;
    std::optional<std::string> passwordFor(ExtractionQueue& queue,
                                           const PasswordRequest& request) override;
    void didReport(ExtractionQueue& queue, const ExtractionProgress& progress) override;
    void didFinish(ExtractionQueue& queue, const std::filesystem::path& archive,
                   const ExtractionOptions& options, const ExtractionOutcome& outcome) override;
    void didBecomeIdle(ExtractionQueue& queue) override;

    std::vector<std::string> log;
    std::vector<std::filesystem::path> started;
    std::vector<PasswordRequest> passwordRequests;
    std::vector<ExtractionProgress> reports;
    std::vector<FinishedJob> finished;
    int idleCount = 0;

    // Answers given in turn; absent once they run out.
    std::deque<std::optional<std::string>> passwordAnswers;
    // Hooks run after the call was recorded.
    std::function<void(ExtractionQueue&, std::int64_t position)> onStart;
    std::function<void(ExtractionQueue&, const ExtractionProgress&)> onReport;
    std::function<void(ExtractionQueue&, const std::filesystem::path&)> onFinish;
};

// An ArchiveEngine whose two calls run the given functions (on the worker).
class ScriptedEngine : public ArchiveEngine {
public:
    std::function<ArchiveListing(const std::filesystem::path&, const std::optional<std::string>&)>
        onList;
    std::function<void(const std::filesystem::path&, const std::optional<std::string>&,
                       ArchiveEntrySink&)>
        onExtract;

    // The script watches no cancellation; the extractor's checks between
    // steps still apply.
    ArchiveListing list(const std::filesystem::path& archive,
                        const std::optional<std::string>& password,
                        const Cancellation& = Cancellation::never()) const override {
        return onList(archive, password);
    }
    void extract(const std::filesystem::path& archive, const std::optional<std::string>& password,
                 ArchiveEntrySink& into,
                 const Cancellation& = Cancellation::never()) const override {
        onExtract(archive, password, into);
    }
};

// A listing of one stored file of the given size, as a plain archive has.
ArchiveListing oneFileListing(const std::filesystem::path& archive, const std::string& path,
                              std::uint64_t size);

// An engine whose one file, x.bin, is written a byte a millisecond (20,000
// bytes at most), long enough to be stopped midway. `beforeByte` runs before
// each write; `onStopped` sees the error that stops the writing.
std::shared_ptr<ScriptedEngine> slowOneFileEngine(
    std::function<void()> beforeByte,
    std::function<void(const ExtractionError&)> onStopped = [](const ExtractionError&) {});

// Spins without serving the event loop, as a busy main thread would; false
// when the condition is not met within 10 s.
bool spinUntil(const std::function<bool()>& condition);

// A fresh directory per test with archives made in it, and a recording
// delegate: `using ExtractionQueueTest = queue::QueueFixture;`.
class QueueFixture : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }

    // NAME.rar in dir, holding the single file NAME.txt.
    std::filesystem::path makeArchive(const std::string& name, const std::string& contents,
                                      std::vector<std::string> switches = {"-m0"});

    bool waitForIdle(int count = 1) {
        return waitFor([&] { return delegate.idleCount >= count; });
    }

    TempDirectory dir;
    TempDirectory sources;
    RecordingDelegate delegate;
};

}  // namespace tovani::testing::queue

namespace tovani {

// Reaches the queue's private state, to replay a report that arrives after
// its job ended (the main thread's FIFO order makes that rare in real runs).
class ExtractionQueueProbe {
public:
    static std::shared_ptr<Cancellation> currentFlag(const ExtractionQueue& queue) {
        return queue.current_ ? queue.current_->cancellation : nullptr;
    }
    static void deliverLateProgress(ExtractionQueue& queue,
                                    const std::shared_ptr<Cancellation>& flag,
                                    const ExtractionProgress& progress) {
        ExtractionQueue::deliverProgress(QPointer<ExtractionQueue>(&queue), flag, progress);
    }
};

}  // namespace tovani
