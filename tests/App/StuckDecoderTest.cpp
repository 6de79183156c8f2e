// A job whose decoder is blocked on a pipe in place of a volume: the pipe
// is swapped in while the job asks for its password (the listing has read
// every part by then), so the extraction's real decoder blocks opening it.
// Cancel ends that job within a second and the queue goes on to the next
// archive; SIGTERM ends the app within a second. The decoder is killed and
// reaped, and the folder gains nothing but the next archive's output.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>

#include <QCoreApplication>

#include "App/AppTestSupport.h"
#include "App/ExtractionQueue.h"
#include "App/QueueTestSupport.h"
#include "App/TerminationSignals.h"
#include "support/BlockingVolume.h"
#include "support/PatternedBytes.h"
#include "support/ProcessTree.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// x.part1.rar … x.part3.rar in folder, movie.bin encrypted with "secret".
fs::path makeLockedSet(const fs::path& folder) {
    TempDirectory sources;
    makeTree(sources.path(), {{"movie.bin", patterned(300'000)}});
    return rar(sources.path(), (folder / "x.rar").string(), {"-m0", "-v100k", "-psecret"},
               {"movie.bin"});
}

// Answers the password and swaps part 2 for a pipe in that same moment.
class SwappingDelegate : public queue::RecordingDelegate {
public:
    std::optional<std::string> passwordFor(ExtractionQueue& queue,
                                           const PasswordRequest& request) override {
        stuck = std::make_unique<BlockingVolume>(pipe);
        return RecordingDelegate::passwordFor(queue, request);
    }

    fs::path pipe;
    std::unique_ptr<BlockingVolume> stuck;
};

using StuckDecoderTest = queue::QueueFixture;

TEST_F(StuckDecoderTest, CancelEndsTheBlockedJobWithinASecondAndTheQueueGoesOn) {
    const fs::path first = makeLockedSet(dir.path());
    const fs::path next = makeArchive("b", "beta");
    SwappingDelegate watcher;
    watcher.pipe = dir / "x.part2.rar";
    watcher.passwordAnswers = {"secret"};
    ExtractionQueue queue;
    queue.setDelegate(&watcher);
    queue.add({first, next}, queue::defaultOptions);
    ASSERT_TRUE(queue::waitFor([&] { return watcher.stuck != nullptr; }));
    const pid_t decoder = watcher.stuck->awaitReader(::getpid());
    ASSERT_GT(decoder, 0) << "no decoder blocked on the pipe";

    const auto cancelled = Clock::now();
    queue.cancelCurrent();
    ASSERT_TRUE(queue::waitFor([&] { return !watcher.finished.empty(); }));
    EXPECT_LT(Clock::now() - cancelled, 1s);
    EXPECT_TRUE(isGone(decoder)) << "the decoder lives on";

    ASSERT_TRUE(queue::waitFor([&] { return watcher.idleCount > 0; }));
    EXPECT_EQ(watcher.log,
              (std::vector<std::string>{"start x.part1.rar 1/2", "password x.part1.rar",
                                        "finish x.part1.rar cancelled", "start b.rar 2/2",
                                        "finish b.rar ok", "idle"}));
    EXPECT_EQ(directoryNames(dir.path()), (std::set<std::string>{"x.part1.rar", "x.part2.rar",
                                                                 "x.part3.rar", "b.rar", "b.txt"}));
}

TEST_F(StuckDecoderTest, TerminateEndsTheAppWithinASecondWhileItsDecoderIsBlocked) {
    TempDirectory archives;
    const fs::path first = makeLockedSet(archives.path());
    auto app = std::make_unique<AppHarness>(dir.path());
    std::unique_ptr<BlockingVolume> stuck;
    app->onPassword = [&](const PasswordRequest&) -> std::optional<std::string> {
        stuck = std::make_unique<BlockingVolume>(archives / "x.part2.rar");
        return "secret";
    };
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, app->delegate.get(),
                     &AppDelegate::terminate);
    app->delegate->willFinishLaunching();
    app->delegate->open({first});
    ASSERT_TRUE(queue::waitFor([&] { return stuck != nullptr; }));
    const pid_t decoder = stuck->awaitReader(::getpid());
    ASSERT_GT(decoder, 0) << "no decoder blocked on the pipe";

    const auto sent = Clock::now();
    ::kill(::getpid(), SIGTERM);
    ASSERT_TRUE(queue::waitFor([&] { return app->quitCount > 0; }));
    // What main() does once the event loop has ended.
    app.reset();
    EXPECT_LT(Clock::now() - sent, 1s);
    EXPECT_TRUE(isGone(decoder)) << "the decoder lives on";
    EXPECT_EQ(directoryNames(archives.path()),
              (std::set<std::string>{"x.part1.rar", "x.part2.rar", "x.part3.rar"}));
}

}  // namespace
}  // namespace tovani::testing
