// The extraction queue taken down while it works: its delegate gone, or the
// queue itself destroyed while a job writes or waits for a password. Each
// ends without a call into what is gone and leaves nothing behind.
#include "App/ExtractionQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "App/QueueTestSupport.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ExtractionQueueTest = testing::queue::QueueFixture;
using testing::queue::slowOneFileEngine;
using testing::queue::spinUntil;
using Log = std::vector<std::string>;

TEST_F(ExtractionQueueTest, DestroyedDelegateIsNoLongerCalled) {
    makeArchive("p", "hidden", {"-m0", "-hpsecret"});
    makeArchive("a", "alpha");
    ExtractionQueue queue;
    auto gone = std::make_unique<testing::queue::RecordingDelegate>();
    gone->passwordAnswers = {"secret"};
    queue.setDelegate(gone.get());
    queue.add({dir / "p.rar", dir / "a.rar"}, testing::queue::defaultOptions);
    EXPECT_EQ(gone->log, (Log{"start p.rar 1/2"}));
    gone.reset();
    EXPECT_EQ(queue.delegate(), nullptr);

    ASSERT_TRUE(testing::queue::waitFor([&] { return queue.isIdle(); }));
    // Its password answer was never asked for: the encrypted archive is cancelled.
    EXPECT_EQ(testing::directoryNames(dir.path()),
              (std::set<std::string>{"a.rar", "a.txt", "p.rar"}));
}

TEST_F(ExtractionQueueTest, DestroyedWhileAskingForPasswordEndsWithoutAsking) {
    testing::writeFile(dir / "x.rar", "");
    auto engine = std::make_shared<testing::queue::ScriptedEngine>();
    std::atomic<int> listings = 0;
    engine->onList = [&](const fs::path&, const std::optional<std::string>&) -> ArchiveListing {
        ++listings;
        throw ExtractionError::passwordRequired();
    };
    engine->onExtract = [](const fs::path&, const std::optional<std::string>&, ArchiveEntrySink&) {
    };
    auto queue = std::make_unique<ExtractionQueue>([engine] { return engine; });
    queue->setDelegate(&delegate);
    delegate.passwordAnswers = {"secret"};
    queue->add({dir / "x.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(spinUntil([&] { return listings > 0; }));
    std::this_thread::sleep_for(50ms);  // the worker now waits for the main thread

    const auto before = std::chrono::steady_clock::now();
    queue.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    testing::queue::waitFor([] { return false; }, 100ms);

    EXPECT_EQ(delegate.log, (Log{"start x.rar 1/1"}));
    EXPECT_EQ(listings, 1);
}

TEST_F(ExtractionQueueTest, DestroyedWhileWritingCancelsJob) {
    testing::writeFile(dir / "x.rar", "");
    std::atomic<int> chunks = 0;
    std::atomic<bool> stopped = false;
    auto engine = slowOneFileEngine(
        [&] { ++chunks; },
        [&](const ExtractionError& error) { stopped = error == ExtractionError::cancelled(); });
    auto queue = std::make_unique<ExtractionQueue>([engine] { return engine; });
    queue->setDelegate(&delegate);
    queue->add({dir / "x.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(spinUntil([&] { return chunks > 0; }));

    queue.reset();
    testing::queue::waitFor([] { return false; }, 100ms);

    EXPECT_TRUE(stopped);
    EXPECT_LT(chunks, 20000);
    EXPECT_EQ(delegate.log, (Log{"start x.rar 1/1"}));
    EXPECT_TRUE(delegate.reports.empty());
    EXPECT_EQ(testing::directoryNames(dir.path()), (std::set<std::string>{"x.rar"}));
}

TEST_F(ExtractionQueueTest, DestroyedWithRealPasswordQuestionPending) {
    makeArchive("p", "hidden", {"-m0", "-hpsecret"});
    auto queue = std::make_unique<ExtractionQueue>();
    queue->setDelegate(&delegate);
    delegate.passwordAnswers = {"secret"};
    queue->add({dir / "p.rar"}, testing::queue::defaultOptions);
    std::this_thread::sleep_for(300ms);  // listing has asked by now, or soon will

    queue.reset();
    testing::queue::waitFor([] { return false; }, 100ms);

    EXPECT_EQ(delegate.log, (Log{"start p.rar 1/1"}));
    EXPECT_EQ(testing::directoryNames(dir.path()), (std::set<std::string>{"p.rar"}));
}

}  // namespace
}  // namespace tovani
