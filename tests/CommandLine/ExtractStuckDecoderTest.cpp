// ostrel-extract with a pipe in place of a volume. Present from the start,
// the pipe is refused by name and the next archive runs. Swapped in while the
// tool asks for the password, it leaves the decoder blocked opening it; then
// Ctrl-C and SIGTERM still end the tool within a second, as that signal, with
// its decoder killed and reaped and nothing left in the folder; so does a
// closed terminal (SIGHUP).
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

#include "CommandLine/ToolProcess.h"
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

class ExtractStuckDecoderTest : public ::testing::Test {
protected:
    // x.part1.rar … x.part3.rar holding movie.bin (made with the switches),
    // and later.rar holding later.txt.
    void makeArchives(std::vector<std::string> switches) {
        makeTree(dir / "src", {{"movie.bin", patterned(300'000)}, {"later.txt", "l"}});
        switches.insert(switches.end(), {"-m0", "-v100k"});
        rar(dir / "src", (dir / "x.rar").string(), switches, {"movie.bin"});
        rar(dir / "src", (dir / "later.rar").string(), {}, {"later.txt"});
        fs::remove_all(dir / "src");
    }

    const std::set<std::string> archives{"x.part1.rar", "x.part2.rar", "x.part3.rar", "later.rar"};
    TempDirectory dir;
};

TEST_F(ExtractStuckDecoderTest, APipeInPlaceOfAVolumeIsRefusedByNameAndTheNextArchiveRuns) {
    makeArchives({});
    BlockingVolume pipe(dir / "x.part2.rar");
    ToolProcess::Result run = ToolProcess::run({"x.part1.rar", "later.rar"}, dir.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "x.part1.rar: “x.part1.rar” could not be opened. “x.part2.rar” is a folder, a "
              "device or a pipe, not a file.\n");
    EXPECT_EQ(run.out, (dir / "later.txt").string() + "\n");
}

TEST_F(ExtractStuckDecoderTest,
       CtrlCHangUpAndTerminateEndTheToolWithinASecondWhileItsDecoderIsBlocked) {
    makeArchives({"-psecret"});
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const std::string part2 = readFile(dir / "x.part2.rar");
        {
            ToolProcess tool({"x.part1.rar", "later.rar"}, dir.path(), true, true);
            // The listing read every part; the pipe comes in before extraction.
            ASSERT_TRUE(tool.awaitOnTerminal("Password: "));
            BlockingVolume stuck(dir / "x.part2.rar");
            tool.type("secret\n");
            const pid_t decoder = stuck.awaitReader(tool.pid());
            ASSERT_GT(decoder, 0) << "no decoder blocked on the pipe";

            const auto sent = Clock::now();
            tool.signal(signal);
            ASSERT_TRUE(tool.endsWithin(5s)) << "the tool hangs";
            EXPECT_LT(Clock::now() - sent, 1s);
            ToolProcess::Result run = tool.wait();
            EXPECT_EQ(run.exitCode, 128 + signal);
            EXPECT_EQ(run.out, "");
            EXPECT_TRUE(isGone(decoder)) << "the decoder lives on";
            // Every signal stops the batch: later.rar is not started.
            EXPECT_EQ(directoryNames(dir.path()), archives);
        }
        fs::remove(dir / "x.part2.rar");
        writeFile(dir / "x.part2.rar", part2);
    }
}

TEST_F(ExtractStuckDecoderTest, CtrlCAtThePasswordPromptEndsTheToolWithinASecond) {
    makeArchives({"-psecret"});
    ToolProcess tool({"x.part1.rar", "later.rar"}, dir.path(), true, true);
    ASSERT_TRUE(tool.awaitOnTerminal("Password: "));
    const auto sent = Clock::now();
    tool.signal(SIGINT);
    ASSERT_TRUE(tool.endsWithin(5s)) << "the tool hangs";
    EXPECT_LT(Clock::now() - sent, 1s);
    ToolProcess::Result run = tool.wait();
    EXPECT_EQ(run.exitCode, 128 + SIGINT);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(directoryNames(dir.path()), archives);
}

}  // namespace
}  // namespace tovani::testing
