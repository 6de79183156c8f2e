// ostrel-extract stopped in the middle of a long job: Ctrl-C, a closed
// terminal (SIGHUP) and kill or timeout (SIGTERM) cancel it and clean up;
// SIGKILL allows no clean-up, yet the output never appears under its final
// name, since it only reaches the destination by the last rename, and the
// next job in the folder removes what it left.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>

#include "CommandLine/ToolProcess.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

// Text that compresses, but takes the decompressor a while to rebuild.
std::string wordSoup(std::size_t size) {
    std::vector<std::string> words;
    std::uint32_t state = 12345;
    auto next = [&state] { return state = state * 1103515245u + 12345u, state >> 16; };
    for (int i = 0; i < 4000; ++i) {
        std::string word;
        for (unsigned length = 2 + next() % 8; length > 0; --length) {
            word.push_back(static_cast<char>('a' + next() % 10));
        }
        words.push_back(word);
    }
    std::string text;
    text.reserve(size + 16);
    while (text.size() < size) {
        text += words[next() % words.size()];
        text.push_back(next() % 16 == 0 ? '\n' : ' ');
    }
    text.resize(size);
    return text;
}

// What a job left in the destination besides the two archives: the tool's
// workspace, a hidden folder, is the only thing that may be there.
std::set<std::string> leftBehind(const fs::path& destination) {
    std::set<std::string> left = directoryNames(destination);
    left.erase("long.rar");
    left.erase("later.rar");
    return left;
}

// True once a workspace holds the staged file with some of its data.
bool stagingHasBegun(const fs::path& destination) {
    for (const std::string& name : leftBehind(destination)) {
        std::error_code ec;
        if (fs::file_size(destination / name / "long" / "long.txt", ec) > 0 && !ec)
            return true;
    }
    return false;
}

class ExtractInterruptTest : public ::testing::Test {
protected:
    // One long archive for the whole suite: making it is the slow part.
    static void SetUpTestSuite() {
        source = std::make_unique<TempDirectory>();
        makeTree(source->path(), {{"long.txt", wordSoup(48 << 20)}});
        rar(source->path(), "long.rar", {"-m1"}, {"long.txt"});
        fs::remove(source->path() / "long.txt");
    }
    static void TearDownTestSuite() { source.reset(); }

    void SetUp() override {
        fs::copy_file(source->path() / "long.rar", dir / "long.rar");
        writeRar5Later = dir / "later.rar";
        makeTree(dir / "src", {{"later.txt", "l"}});
        rar(dir / "src", writeRar5Later.string(), {}, {"later.txt"});
        fs::remove_all(dir / "src");
    }

    static std::unique_ptr<TempDirectory> source;
    TempDirectory dir;
    fs::path writeRar5Later;
};

std::unique_ptr<TempDirectory> ExtractInterruptTest::source;

TEST_F(ExtractInterruptTest, CtrlCHangUpAndTerminateEachExitAsTheSignalAndLeaveNoWorkspace) {
    for (const int signal : {SIGINT, SIGHUP, SIGTERM}) {
        SCOPED_TRACE(signal);
        ToolProcess tool({"long.rar", "later.rar"}, dir.path());
        ASSERT_TRUE(waitUntil([&] { return stagingHasBegun(dir.path()); }));
        tool.signal(signal);
        ToolProcess::Result run = tool.wait();
        EXPECT_EQ(run.exitCode, 128 + signal);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "");
        // The archives after the interrupted one are not started.
        EXPECT_EQ(directoryNames(dir.path()), (std::set<std::string>{"long.rar", "later.rar"}));
    }
}

TEST_F(ExtractInterruptTest, KilledMidJobLeavesNothingUnderTheFinalNameAndTheNextJobSweepsIt) {
    ToolProcess tool({"long.rar"}, dir.path());
    ASSERT_TRUE(waitUntil([&] { return stagingHasBegun(dir.path()); }));
    tool.signal(SIGKILL);
    ToolProcess::Result run = tool.wait();
    EXPECT_EQ(run.exitCode, 128 + SIGKILL);
    const std::set<std::string> left = leftBehind(dir.path());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(left.begin()->starts_with(".")) << *left.begin();
    EXPECT_TRUE(fs::is_directory(dir / *left.begin()));

    // The next job in the folder removes the dead one's workspace, which
    // no running job holds any more.
    ToolProcess::Result again = ToolProcess::run({"later.rar"}, dir.path());
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, (dir / "later.txt").string() + "\n");
    EXPECT_EQ(directoryNames(dir.path()),
              (std::set<std::string>{"long.rar", "later.rar", "later.txt"}));
}

}  // namespace
}  // namespace tovani::testing
