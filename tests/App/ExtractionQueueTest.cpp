#include "App/ExtractionQueue.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "App/QueueTestSupport.h"
#include "TovaniCore/AnyArchiveEngine.h"
#include "support/PatternedBytes.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::patterned;
using testing::TempDirectory;
using Log = std::vector<std::string>;

ExtractionOptions inFolder(const fs::path&) {
    ExtractionOptions options;
    options.alwaysCreateFolder = true;
    return options;
}

using ExtractionQueueTest = testing::queue::QueueFixture;
using testing::queue::slowOneFileEngine;
using testing::queue::spinUntil;

// The parts of a set cut byte by byte make one job, named and read from its
// first part, and every part is among the files the job read.
TEST_F(ExtractionQueueTest, PartsOfASplitSetBecomeOneJob) {
    testing::writeFile(dir / "s.7z.001", std::string("7z\xbc\xaf\x27\x1c\x00\x04", 8));
    testing::writeFile(dir / "s.7z.002", "rest");
    auto engine = std::make_shared<testing::queue::ScriptedEngine>();
    engine->onList = [](const fs::path& archive, const std::optional<std::string>&) {
        return testing::queue::oneFileListing(archive, "a.bin", 0);
    };
    engine->onExtract = [](const fs::path&, const std::optional<std::string>&,
                           ArchiveEntrySink& into) {
        const ArchiveEntry entry = testing::queue::oneFileListing("", "a.bin", 0).entries[0];
        if (into.begin(entry)) {
            into.finish(entry);
        }
    };
    ExtractionQueue queue([engine] { return std::make_shared<AnyArchiveEngine>(engine, engine); });
    queue.setDelegate(&delegate);
    queue.add({dir / "s.7z.002", dir / "s.7z.001"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(delegate.log, (Log{"start s.7z.001 1/1", "finish s.7z.001 ok", "idle"}));
    ASSERT_NE(delegate.finished[0].outcome.result(), nullptr);
    EXPECT_EQ(delegate.finished[0].outcome.result()->archiveFiles(),
              (std::vector<fs::path>{dir / "s.7z.001", dir / "s.7z.002"}));
}

TEST_F(ExtractionQueueTest, VolumesOfOneSetAndRepeatsBecomeOneJob) {
    const std::string contents = patterned(50000);
    testing::makeTree(sources.path(), {{"set.txt", contents}});
    const fs::path first =
        testing::rar(sources.path(), (dir / "set.rar").string(), {"-m0", "-v20k"}, {"set.txt"});
    const std::vector<fs::path> volumes = testing::volumeFiles(first);
    ASSERT_EQ(volumes.size(), 3u);

    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    queue.add({volumes[1], volumes[2], volumes[0], volumes[1]}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(delegate.log, (Log{"start set.part1.rar 1/1", "finish set.part1.rar ok", "idle"}));
    EXPECT_EQ(delegate.started, (std::vector<fs::path>{dir / "set.part1.rar"}));
    EXPECT_EQ(testing::readFile(dir / "set.txt"), contents);
    ASSERT_FALSE(delegate.reports.empty());
    EXPECT_EQ(delegate.reports.back(),
              (ExtractionProgress{contents.size(), contents.size(), "set.txt"}));
    EXPECT_TRUE(queue.isIdle());
}

TEST_F(ExtractionQueueTest, ALaterVolumeWithoutTheFirstIsOneJobReportingThatPartMissing) {
    testing::makeTree(sources.path(), {{"set.txt", patterned(50000)}});
    const fs::path first =
        testing::rar(sources.path(), (dir / "set.rar").string(), {"-m0", "-v20k"}, {"set.txt"});
    const std::vector<fs::path> volumes = testing::volumeFiles(first);
    ASSERT_EQ(volumes.size(), 3u);
    fs::remove(first);

    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    queue.add({volumes[2], volumes[1]}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(delegate.log,
              (Log{"start set.part1.rar 1/1",
                   "finish set.part1.rar volumeMissing(name: \"set.part1.rar\")", "idle"}));
}

TEST_F(ExtractionQueueTest, SameFileSpelledTwoWaysIsOneJob) {
    makeArchive("a", "alpha");
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    queue.add({dir / "sub" / ".." / "." / "a.rar", dir / "a.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(delegate.log, (Log{"start a.rar 1/1", "finish a.rar ok", "idle"}));
    EXPECT_EQ(delegate.started, (std::vector<fs::path>{dir / "a.rar"}));
}

TEST_F(ExtractionQueueTest, RunningJobRepeatedIsDroppedButNewOptionsMakeSecondJob) {
    const fs::path archive = makeArchive("a", "alpha");
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    delegate.onStart = [&](ExtractionQueue& q, std::int64_t position) {
        if (position == 1) {
            q.add({archive}, testing::queue::defaultOptions);
            q.add({archive}, inFolder);
            q.add({archive}, inFolder);
        }
    };
    queue.add({archive}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(delegate.log, (Log{"start a.rar 1/1", "finish a.rar ok", "start a.rar 2/2",
                                 "finish a.rar ok", "idle"}));
    ASSERT_EQ(delegate.finished.size(), 2u);
    EXPECT_EQ(delegate.finished[0].options, ExtractionOptions{});
    EXPECT_EQ(delegate.finished[1].options, inFolder(archive));
    ASSERT_NE(delegate.finished[1].outcome.result(), nullptr);
    EXPECT_EQ(delegate.finished[1].outcome.result()->output(), dir / "a");
    EXPECT_EQ(testing::readFile(dir / "a.txt"), "alpha");
    EXPECT_EQ(testing::readFile(dir / "a" / "a.txt"), "alpha");
}

TEST_F(ExtractionQueueTest, PositionsAndTotalsCountSinceLastIdle) {
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        makeArchive(name, name);
    }
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    delegate.onStart = [&](ExtractionQueue& q, std::int64_t position) {
        if (position == 2) {
            q.add({dir / "d.rar"}, testing::queue::defaultOptions);
        }
    };
    queue.add({dir / "a.rar", dir / "b.rar", dir / "c.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(delegate.log, (Log{"start a.rar 1/3", "finish a.rar ok", "start b.rar 2/3",
                                 "finish b.rar ok", "start c.rar 3/4", "finish c.rar ok",
                                 "start d.rar 4/4", "finish d.rar ok", "idle"}));

    delegate.log.clear();
    delegate.onStart = nullptr;
    queue.add({dir / "e.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle(2));
    EXPECT_EQ(delegate.log, (Log{"start e.rar 1/1", "finish e.rar ok", "idle"}));
}

TEST_F(ExtractionQueueTest, JobAddedWhileFinishingStartsAtOnce) {
    makeArchive("a", "alpha");
    makeArchive("b", "beta");
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    delegate.onFinish = [&](ExtractionQueue& q, const fs::path& archive) {
        if (archive.filename() == "a.rar") {
            q.add({dir / "b.rar"}, testing::queue::defaultOptions);
            EXPECT_FALSE(q.isIdle());
        }
    };
    queue.add({dir / "a.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(delegate.log, (Log{"start a.rar 1/1", "finish a.rar ok", "start b.rar 2/2",
                                 "finish b.rar ok", "idle"}));
}

TEST_F(ExtractionQueueTest, EmptyAddOnIdleQueueReportsIdleAgain) {
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    queue.add({}, testing::queue::defaultOptions);
    queue.add({}, testing::queue::defaultOptions);
    EXPECT_EQ(delegate.log, (Log{"idle", "idle"}));
    EXPECT_TRUE(queue.isIdle());
}

TEST_F(ExtractionQueueTest, CancelEndsRunningJobAndNextStarts) {
    makeArchive("a", "alpha");
    makeArchive("b", "beta");
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    queue.cancelCurrent();  // nothing runs: no effect
    EXPECT_TRUE(delegate.log.empty());

    delegate.onStart = [&](ExtractionQueue& q, std::int64_t position) {
        if (position == 1) {
            q.cancelCurrent();
        }
    };
    queue.add({dir / "a.rar", dir / "b.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(delegate.log, (Log{"start a.rar 1/2", "finish a.rar cancelled", "start b.rar 2/2",
                                 "finish b.rar ok", "idle"}));
    ASSERT_EQ(delegate.finished.size(), 2u);
    EXPECT_EQ(delegate.finished[0].outcome.extractionError(), ExtractionError::cancelled());
    EXPECT_EQ(testing::directoryNames(dir.path()),
              (std::set<std::string>{"a.rar", "b.rar", "b.txt"}));
}

TEST_F(ExtractionQueueTest, AJobThatCannotGetItsCancellationFailsAndTheNextRuns) {
#if defined(__SANITIZE_ADDRESS__)
    // The undefined-behaviour checker opens a pipe to test memory before it
    // trusts an object's type; with no descriptor left it reports every
    // object it looks at as of the wrong type.
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own";
#endif
    makeArchive("a", "alpha");
    makeArchive("b", "beta");
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    // Every descriptor below a lowered limit is taken while the first job starts.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = 512;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> taken;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        taken.push_back(fd);
    }
    queue.add({dir / "a.rar"}, testing::queue::defaultOptions);
    for (const int fd : taken) {
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    queue.add({dir / "b.rar"}, testing::queue::defaultOptions);

    ASSERT_TRUE(waitForIdle());
    ASSERT_EQ(delegate.log.size(), 5u);
    EXPECT_EQ(delegate.log[0], "start a.rar 1/1");
    EXPECT_TRUE(delegate.log[1].starts_with("finish a.rar ")) << delegate.log[1];
    EXPECT_NE(delegate.log[1], "finish a.rar ok");
    EXPECT_EQ(delegate.log[2], "start b.rar 2/2");
    EXPECT_EQ(delegate.log[3], "finish b.rar ok");
    EXPECT_EQ(testing::directoryNames(dir.path()),
              (std::set<std::string>{"a.rar", "b.rar", "b.txt"}));
}

TEST_F(ExtractionQueueTest, CancelAllEndsTheRunningJobAndDropsTheWaitingOnes) {
    makeArchive("a", "alpha");
    makeArchive("b", "beta");
    makeArchive("c", "gamma");
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    delegate.onStart = [&](ExtractionQueue& q, std::int64_t) { q.cancelAll(); };
    queue.add({dir / "a.rar", dir / "b.rar", dir / "c.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(delegate.log, (Log{"start a.rar 1/3", "finish a.rar cancelled", "idle"}));

    // The next batch counts from one again.
    delegate.onStart = nullptr;
    queue.add({dir / "b.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle(2));
    EXPECT_EQ(delegate.log.back(), "idle");
    EXPECT_EQ(delegate.log[3], "start b.rar 1/1");
    EXPECT_EQ(testing::directoryNames(dir.path()),
              (std::set<std::string>{"a.rar", "b.rar", "c.rar", "b.txt"}));
}

TEST_F(ExtractionQueueTest, CancelWhileWritingStopsAtNextChunk) {
    testing::writeFile(dir / "x.rar", "");
    std::atomic<int> chunksAfterCancelRequest = 0;
    std::atomic<bool> cancelRequested = false;
    auto engine = slowOneFileEngine([&] {
        if (cancelRequested) {
            ++chunksAfterCancelRequest;
        }
    });
    ExtractionQueue queue([engine] { return engine; });
    queue.setDelegate(&delegate);
    delegate.onReport = [&](ExtractionQueue& q, const ExtractionProgress&) {
        q.cancelCurrent();
        cancelRequested = true;
    };
    queue.add({dir / "x.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(delegate.log, (Log{"start x.rar 1/1", "finish x.rar cancelled", "idle"}));
    // The next chunk notices the request.
    EXPECT_LE(chunksAfterCancelRequest, 1);
    EXPECT_EQ(testing::directoryNames(dir.path()), (std::set<std::string>{"x.rar"}));
}

TEST_F(ExtractionQueueTest, FirstAndCompletingReportsAlwaysReachDelegate) {
    testing::writeFile(dir / "x.rar", "");
    auto engine = std::make_shared<testing::queue::ScriptedEngine>();
    engine->onList = [](const fs::path& archive, const std::optional<std::string>&) {
        return testing::queue::oneFileListing(archive, "x.bin", 1000);
    };
    engine->onExtract = [](const fs::path&, const std::optional<std::string>&,
                           ArchiveEntrySink& into) {
        const ArchiveEntry entry = testing::queue::oneFileListing("", "x.bin", 1000).entries[0];
        EXPECT_TRUE(into.begin(entry));
        const std::vector<std::byte> chunk(100, std::byte{7});
        for (int i = 0; i < 10; ++i) {
            into.write(chunk);
        }
        into.finish(entry);
    };
    ExtractionQueue queue([engine] { return engine; });
    queue.setDelegate(&delegate);
    queue.add({dir / "x.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(delegate.log, (Log{"start x.rar 1/1", "finish x.rar ok", "idle"}));
    ASSERT_GE(delegate.reports.size(), 2u);
    EXPECT_EQ(delegate.reports.front(), (ExtractionProgress{0, 1000, "x.bin"}));
    EXPECT_EQ(delegate.reports.back(), (ExtractionProgress{1000, 1000, "x.bin"}));
    for (std::size_t i = 1; i < delegate.reports.size(); ++i) {
        EXPECT_LT(delegate.reports[i - 1].completedBytes, delegate.reports[i].completedBytes);
    }
}

TEST_F(ExtractionQueueTest, ReportOfEndedJobIsDropped) {
    makeArchive("a", "alpha");
    makeArchive("b", "beta");
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    std::shared_ptr<Cancellation> firstJob;
    delegate.onStart = [&](ExtractionQueue& q, std::int64_t position) {
        if (position == 1) {
            firstJob = ExtractionQueueProbe::currentFlag(q);
        } else {
            ExtractionQueueProbe::deliverLateProgress(q, firstJob, {1, 2, "late"});
            ExtractionQueueProbe::deliverLateProgress(q, ExtractionQueueProbe::currentFlag(q),
                                                      {1, 2, "current"});
        }
    };
    queue.add({dir / "a.rar", dir / "b.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());
    ExtractionQueueProbe::deliverLateProgress(queue, firstJob, {1, 2, "after idle"});

    ASSERT_NE(firstJob, nullptr);
    std::vector<std::string> paths;
    for (const ExtractionProgress& report : delegate.reports) {
        paths.push_back(report.currentPath);
    }
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "current"), 1);
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "late"), 0);
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "after idle"), 0);
}

TEST_F(ExtractionQueueTest, PasswordAnswersReachExtractor) {
    makeArchive("p", "hidden", {"-m0", "-hpsecret"});
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    delegate.passwordAnswers = {"wrong", "secret"};
    queue.add({dir / "p.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(delegate.log, (Log{"start p.rar 1/1", "password p.rar", "password p.rar retry",
                                 "finish p.rar ok", "idle"}));
    EXPECT_EQ(delegate.passwordRequests,
              (std::vector<PasswordRequest>{{"p.rar", false}, {"p.rar", true}}));
    EXPECT_EQ(testing::readFile(dir / "p.txt"), "hidden");
}

TEST_F(ExtractionQueueTest, AbsentPasswordCancelsJob) {
    makeArchive("p", "hidden", {"-m0", "-hpsecret"});
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    queue.add({dir / "p.rar"}, testing::queue::defaultOptions);
    ASSERT_TRUE(waitForIdle());

    EXPECT_EQ(delegate.log,
              (Log{"start p.rar 1/1", "password p.rar", "finish p.rar cancelled", "idle"}));
    EXPECT_EQ(testing::directoryNames(dir.path()), (std::set<std::string>{"p.rar"}));
}

TEST_F(ExtractionQueueTest, WithoutDelegateJobsRunAndPasswordsAreAbsent) {
    makeArchive("p", "hidden", {"-m0", "-hpsecret"});
    makeArchive("a", "alpha");
    ExtractionQueue queue;
    queue.add({dir / "p.rar", dir / "a.rar"}, testing::queue::defaultOptions);
    EXPECT_FALSE(queue.isIdle());
    ASSERT_TRUE(testing::queue::waitFor([&] { return queue.isIdle(); }));
    EXPECT_EQ(testing::directoryNames(dir.path()),
              (std::set<std::string>{"a.rar", "a.txt", "p.rar"}));
}

}  // namespace
}  // namespace tovani
