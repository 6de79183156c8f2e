// Every input that once crashed the UnRAR library, run through the real queue
// with two good archives behind it: the app lives on, the bad archive fails
// as damaged (one alert), both good ones are extracted, and no workspace is
// left behind.
#include <gtest/gtest.h>

#include <exception>
#include <set>
#include <string>
#include <vector>

#include "App/ExtractionQueue.h"
#include "App/QueueTestSupport.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using testing::TempDirectory;
using Log = std::vector<std::string>;

std::optional<ExtractionError> errorOf(const ExtractionOutcome& outcome) {
    if (outcome.succeeded()) {
        return std::nullopt;
    }
    try {
        std::rethrow_exception(outcome.error());
    } catch (const ExtractionError& error) {
        return error;
    } catch (...) {
        return ExtractionError::engineFailure();
    }
}

TEST(ExtractionQueueCrash, CrashRegressionsCostOneArchiveOnly) {
    testing::queue::ensureApplication();
    std::vector<fs::path> inputs;
    for (const auto& input : fs::directory_iterator(OSTREL_FUZZ_REGRESSIONS)) {
        inputs.push_back(input.path());
    }
    ASSERT_FALSE(inputs.empty());
    for (const fs::path& input : inputs) {
        TempDirectory dir;
        TempDirectory sources;
        testing::makeTree(sources.path(), {{"one.txt", "first"}, {"two.txt", "second"}});
        const fs::path one =
            testing::rar(sources.path(), (dir / "one.rar").string(), {}, {"one.txt"});
        const fs::path two =
            testing::rar(sources.path(), (dir / "two.rar").string(), {}, {"two.txt"});
        const fs::path bad = dir / "bad.rar";
        fs::copy_file(input, bad);

        testing::queue::RecordingDelegate delegate;
        delegate.passwordAnswers = {"password"};
        ExtractionQueue queue;
        queue.setDelegate(&delegate);
        queue.add({bad, one, two}, testing::queue::defaultOptions);
        ASSERT_TRUE(testing::queue::waitFor([&] { return delegate.idleCount > 0; })) << input;

        ASSERT_EQ(delegate.finished.size(), 3u) << input;
        EXPECT_EQ(errorOf(delegate.finished[0].outcome), ExtractionError::damaged(std::nullopt))
            << input;
        EXPECT_TRUE(delegate.finished[1].outcome.succeeded()) << input;
        EXPECT_TRUE(delegate.finished[2].outcome.succeeded()) << input;
        EXPECT_EQ(testing::readFile(dir / "one.txt"), "first");
        EXPECT_EQ(testing::readFile(dir / "two.txt"), "second");
        // Nothing else: no workspace, no partial output of the bad archive.
        EXPECT_EQ(testing::directoryNames(dir.path()),
                  (std::set<std::string>{"bad.rar", "one.rar", "one.txt", "two.rar", "two.txt"}))
            << input;
    }
}

}  // namespace
}  // namespace tovani
