// Hundreds of archives handed to the queue at once: each is extracted exactly
// once, memory stays flat, and the main thread is not flooded with progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "App/ExtractionQueue.h"
#include "App/QueueTestSupport.h"
#include "TovaniCore/RarEngine.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::StoredEntry;

// Resident memory of this process in kilobytes.
long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

TEST(ExtractionQueueLoad, HundredsOfArchivesAtOnceAreEachExtractedExactlyOnce) {
    testing::queue::ensureApplication();
    testing::TempDirectory dir;
    constexpr int archiveCount = 300;
    std::vector<fs::path> handedOver;
    for (int i = 0; i < archiveCount; ++i) {
        const std::string name = "a" + std::to_string(i);
        testing::writeRar5(dir / (name + ".rar"),
                           {StoredEntry::file("one.txt", name), StoredEntry::file("two.txt", "2")});
        handedOver.push_back(dir / (name + ".rar"));
    }
    // Repeats and every volume of one set must not add jobs.
    for (int i = 0; i < archiveCount; i += 10) {
        handedOver.push_back(dir / ("a" + std::to_string(i) + ".rar"));
    }
    testing::makeTree(dir / "src", {{"big.bin", std::string(50000, 'v')}});
    const fs::path first =
        testing::rar(dir / "src", (dir / "set.rar").string(), {"-m0", "-v20k"}, {"big.bin"});
    for (const fs::path& volume : testing::volumeFiles(first)) {
        handedOver.push_back(volume);
    }

    testing::queue::RecordingDelegate delegate;
    long memoryAfterWarmUp = 0;
    delegate.onFinish = [&](ExtractionQueue&, const fs::path&) {
        if (delegate.finished.size() == 50) {
            memoryAfterWarmUp = residentKilobytes();
        }
    };
    std::vector<std::chrono::steady_clock::time_point> reportTimes;
    delegate.onReport = [&](ExtractionQueue&, const ExtractionProgress&) {
        reportTimes.push_back(std::chrono::steady_clock::now());
    };
    ExtractionQueue queue;
    queue.setDelegate(&delegate);

    const auto started = std::chrono::steady_clock::now();
    queue.add(handedOver, testing::queue::defaultOptions);
    ASSERT_TRUE(testing::queue::waitFor([&] { return delegate.idleCount > 0; }, 180s));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long memoryAtEnd = residentKilobytes();

    ASSERT_EQ(delegate.finished.size(), static_cast<std::size_t>(archiveCount + 1));
    std::set<fs::path> finishedArchives;
    for (const auto& job : delegate.finished) {
        EXPECT_TRUE(job.outcome.succeeded()) << job.archive;
        finishedArchives.insert(job.archive);
    }
    EXPECT_EQ(finishedArchives.size(), delegate.finished.size());
    EXPECT_EQ(delegate.log.back(), "idle");
    EXPECT_EQ(delegate.idleCount, 1);
    for (int i = 0; i < archiveCount; ++i) {
        const fs::path output = dir / ("a" + std::to_string(i));
        EXPECT_EQ(testing::readFile(output / "one.txt"), "a" + std::to_string(i));
    }
    EXPECT_EQ(testing::readFile(dir / "big.bin"), std::string(50000, 'v'));
    EXPECT_FALSE(fs::exists(dir / "a0 2"));

    // Memory does not grow with the number of jobs done. AddressSanitizer
    // holds freed memory back on purpose, so only a plain build can tell.
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(memoryAtEnd - memoryAfterWarmUp, 16 * 1024)
        << "after 50 jobs " << memoryAfterWarmUp << " kB, at the end " << memoryAtEnd << " kB";
#endif

    // Each job may always show its first and its completed report; beyond
    // those the main thread sees at most about 20 reports a second.
    const double allowed = 2.0 * delegate.finished.size() + 20.0 * seconds + 10;
    EXPECT_LE(static_cast<double>(reportTimes.size()), allowed)
        << reportTimes.size() << " reports for " << delegate.finished.size() << " jobs in "
        << seconds << " s";
    std::cout << "[ load     ] " << delegate.finished.size() << " jobs in " << seconds << " s, "
              << reportTimes.size() << " progress reports, memory " << memoryAfterWarmUp
              << " kB after 50 jobs, " << memoryAtEnd << " kB at the end\n";
}

TEST(ExtractionQueueLoad, ABigFileReachesTheMainThreadAtMostTwentyTimesASecond) {
    testing::queue::ensureApplication();
    testing::TempDirectory dir;
    std::string data(64 << 20, '\0');
    std::uint32_t state = 7;
    for (char& c : data) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    testing::makeTree(dir / "src", {{"big.bin", data}});
    const fs::path archive =
        testing::rar(dir / "src", (dir / "big.rar").string(), {"-m1"}, {"big.bin"});

    testing::queue::RecordingDelegate delegate;
    std::vector<std::chrono::steady_clock::time_point> reportTimes;
    delegate.onReport = [&](ExtractionQueue&, const ExtractionProgress&) {
        reportTimes.push_back(std::chrono::steady_clock::now());
    };
    ExtractionQueue queue;
    queue.setDelegate(&delegate);
    queue.add({archive}, testing::queue::defaultOptions);
    ASSERT_TRUE(testing::queue::waitFor([&] { return delegate.idleCount > 0; }, 120s));
    ASSERT_EQ(delegate.finished.size(), 1u);
    ASSERT_TRUE(delegate.finished.front().outcome.succeeded());

    // Reports of the same file leave the worker at least 50 ms apart; the
    // main thread may receive two close together when it was busy, but never
    // many more than 20 in any one second.
    std::size_t most = 0;
    for (std::size_t i = 0; i < reportTimes.size(); ++i) {
        std::size_t j = i;
        while (j < reportTimes.size() && reportTimes[j] - reportTimes[i] < 1s)
            ++j;
        most = std::max(most, j - i);
    }
    EXPECT_LE(most, 22u);
    EXPECT_EQ(delegate.reports.back().completedBytes, delegate.reports.back().totalBytes);
}

// The real engine, recording how many of its calls ever ran at once.
class OverlapProbe final : public ArchiveEngine {
public:
    fs::path firstVolume(const fs::path& file) const override { return engine_.firstVolume(file); }
    std::vector<fs::path> volumesFrom(const fs::path& volume) const override {
        return engine_.volumesFrom(volume);
    }
    ArchiveListing list(const fs::path& archive, const std::optional<std::string>& password,
                        const Cancellation& cancellation = Cancellation::never()) const override {
        Entered entered(*this);
        return engine_.list(archive, password, cancellation);
    }
    void extract(const fs::path& archive, const std::optional<std::string>& password,
                 ArchiveEntrySink& into,
                 const Cancellation& cancellation = Cancellation::never()) const override {
        Entered entered(*this);
        engine_.extract(archive, password, into, cancellation);
    }
    int mostAtOnce() const { return most_.load(); }

private:
    struct Entered {
        explicit Entered(const OverlapProbe& probe) : probe(probe) {
            const int now = ++probe.running_;
            int seen = probe.most_.load();
            while (now > seen && !probe.most_.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(2ms);
        }
        ~Entered() { --probe.running_; }
        const OverlapProbe& probe;
    };
    RarEngine engine_;
    mutable std::atomic<int> running_{0};
    mutable std::atomic<int> most_{0};
};

TEST(ExtractionQueueLoad, TheWorkerNeverRunsTwoExtractionsAtOnce) {
    testing::queue::ensureApplication();
    testing::TempDirectory dir;
    std::vector<fs::path> archives;
    for (int i = 0; i < 40; ++i) {
        archives.push_back(dir / ("o" + std::to_string(i) + ".rar"));
        testing::writeRar5(archives.back(), {StoredEntry::file("f", std::to_string(i))});
    }
    auto probe = std::make_shared<OverlapProbe>();
    testing::queue::RecordingDelegate delegate;
    ExtractionQueue queue([probe] { return probe; });
    queue.setDelegate(&delegate);
    // Added in several calls, also from inside completions, to press on the
    // hand-over between jobs.
    queue.add({archives.begin(), archives.begin() + 20}, testing::queue::defaultOptions);
    delegate.onFinish = [&](ExtractionQueue& q, const fs::path&) {
        if (delegate.finished.size() == 5) {
            q.add({archives.begin() + 20, archives.end()}, testing::queue::defaultOptions);
        }
    };
    ASSERT_TRUE(testing::queue::waitFor([&] { return delegate.idleCount > 0; }, 60s));
    EXPECT_EQ(delegate.finished.size(), archives.size());
    EXPECT_EQ(probe->mostAtOnce(), 1);
}

}  // namespace
}  // namespace tovani
