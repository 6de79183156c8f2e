// A decoder that is stuck can always be stopped: blocked on a pipe in place
// of a volume (listing or extracting), silent from the start, or gone while
// a process it left behind holds the channel open. Each call ends within a
// second of the cancel, or of the decoder's exit, and leaves no process.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "TovaniCore/RarEngine.h"
#include "support/BlockingVolume.h"
#include "support/PatternedBytes.h"
#include "support/ProcessTree.h"
#include "support/RarRecordingSink.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::BlockingVolume;
using testing::RecordingSink;
using testing::TempDirectory;

constexpr auto kPromptly = 1s;

// Runs the engine call on a thread of its own; its error, or none.
std::future<std::optional<ExtractionError>> start(std::function<void()> call) {
    return std::async(std::launch::async,
                      [call = std::move(call)]() -> std::optional<ExtractionError> {
                          try {
                              call();
                          } catch (const ExtractionError& error) {
                              return error;
                          }
                          return std::nullopt;
                      });
}

// Waits for the call's end: its error and how long after `from` it came.
std::pair<std::optional<ExtractionError>, Clock::duration> finish(
    std::future<std::optional<ExtractionError>>& call, Clock::time_point from) {
    if (call.wait_for(20s) != std::future_status::ready) {
        ADD_FAILURE() << "the call never ended";
        std::abort();  // the thread cannot be left running into the next test
    }
    const auto took = Clock::now() - from;
    return {call.get(), took};
}

// A shell script in place of the decoder.
fs::path fakeDecoder(const fs::path& directory, const std::string& body) {
    const fs::path script = directory / "fake-decoder";
    std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(script, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    return script;
}

class RarEngineCancellation : public ::testing::Test {
protected:
    // x.part1.rar … x.part3.rar with one file across them.
    fs::path makeSet() {
        testing::makeTree(dir / "src", {{"movie.bin", testing::patterned(300'000)}});
        const fs::path first =
            testing::rar(dir / "src", (dir / "x.rar").string(), {"-m0", "-v100k"}, {"movie.bin"});
        fs::remove_all(dir / "src");
        return first;
    }

    TempDirectory dir;
};

TEST_F(RarEngineCancellation, APipeInPlaceOfAVolumeIsCancelledWhileListingOrExtracting) {
    const fs::path first = makeSet();
    const struct {
        const char* stage;
        std::function<void(const Cancellation&)> call;
    } stages[] = {
        {"listing", [&](const Cancellation& stop) { RarEngine().list(first, std::nullopt, stop); }},
        {"extracting",
         [&](const Cancellation& stop) {
             RecordingSink sink;
             RarEngine().extract(first, std::nullopt, sink, stop);
         }},
    };
    for (const auto& stage : stages) {
        SCOPED_TRACE(stage.stage);
        const std::string kept = testing::readFile(dir / "x.part2.rar");
        {
            BlockingVolume stuck(dir / "x.part2.rar");
            Cancellation stop;
            auto call = start([&] { stage.call(stop); });
            const pid_t decoder = stuck.awaitReader(::getpid());
            ASSERT_GT(decoder, 0) << "no decoder blocked on the pipe";

            const auto cancelled = Clock::now();
            stop.cancel();
            const auto [error, took] = finish(call, cancelled);
            EXPECT_EQ(error, ExtractionError::cancelled());
            EXPECT_LT(took, kPromptly);
            EXPECT_TRUE(testing::isGone(decoder)) << "the decoder was not reaped";
        }
        fs::remove(dir / "x.part2.rar");
        testing::writeFile(dir / "x.part2.rar", kept);
    }
}

TEST_F(RarEngineCancellation, ASilentDecoderIsCancelledKilledAndReaped) {
    const fs::path first = makeSet();
    const RarEngine engine(fakeDecoder(dir.path(), "exec sleep 600"));
    Cancellation stop;
    auto call = start([&] { engine.list(first, std::nullopt, stop); });
    std::vector<pid_t> decoders;
    const auto deadline = Clock::now() + 20s;
    while (decoders.empty() && Clock::now() < deadline) {
        decoders = testing::childrenOf(::getpid());
    }
    ASSERT_EQ(decoders.size(), 1u);

    const auto cancelled = Clock::now();
    stop.cancel();
    const auto [error, took] = finish(call, cancelled);
    EXPECT_EQ(error, ExtractionError::cancelled());
    EXPECT_LT(took, kPromptly);
    for (const pid_t decoder : decoders) {
        EXPECT_TRUE(testing::isGone(decoder));
    }
}

TEST_F(RarEngineCancellation, ADecoderThatExitsLeavingTheChannelWithAnotherProcessEndsTheCall) {
    const fs::path first = makeSet();
    const fs::path heir = dir / "heir.pid";
    // The heir inherits the channel (descriptor 3) and holds it for ten minutes.
    const RarEngine engine(
        fakeDecoder(dir.path(), "sleep 600 &\necho $! > '" + heir.string() + "'"));
    const auto began = Clock::now();
    auto call = start([&] { engine.list(first, std::nullopt); });
    const auto [error, took] = finish(call, began);
    const pid_t heirPid = std::stoi(testing::readFile(heir));
    ::kill(heirPid, SIGKILL);
    EXPECT_EQ(error, ExtractionError::damaged(std::nullopt));
    EXPECT_LT(took, kPromptly);
}

TEST_F(RarEngineCancellation, AnUncancelledCallRunsToTheEndAndACancelledOneEndsAtOnce) {
    const fs::path first = makeSet();
    Cancellation stop;
    RecordingSink sink;
    RarEngine().extract(first, std::nullopt, sink, stop);
    EXPECT_EQ(sink.begun.size(), 1u);

    stop.cancel();
    EXPECT_EQ(start([&] { RarEngine().list(first, std::nullopt, stop); }).get(),
              ExtractionError::cancelled());
    EXPECT_TRUE(testing::childrenOf(::getpid()).empty());
}

}  // namespace
}  // namespace tovani
