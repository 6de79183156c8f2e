#include "App/ProgressThrottle.h"

#include <gtest/gtest.h>

#include <chrono>

namespace tovani {
namespace {

using namespace std::chrono_literals;

class ProgressThrottleTest : public ::testing::Test {
protected:
    std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
    ProgressThrottle throttle{[this] { return now; }};

    bool report(std::uint64_t completed, std::uint64_t total, const std::string& path) {
        return throttle.shouldReport(ExtractionProgress{completed, total, path});
    }
};

TEST_F(ProgressThrottleTest, FirstReportPassesAndSameFileWaitsFiftyMilliseconds) {
    EXPECT_TRUE(report(0, 100, "a"));
    EXPECT_FALSE(report(10, 100, "a"));
    now += 49ms;
    EXPECT_FALSE(report(20, 100, "a"));
    now += 1ms;
    EXPECT_TRUE(report(30, 100, "a"));
    // The interval counts from the last report that passed.
    now += 49ms;
    EXPECT_FALSE(report(40, 100, "a"));
}

TEST_F(ProgressThrottleTest, CompletedReportAlwaysPasses) {
    EXPECT_TRUE(report(0, 100, "a"));
    EXPECT_TRUE(report(100, 100, "a"));
    EXPECT_TRUE(report(100, 100, "b"));
    EXPECT_TRUE(report(0, 0, "c"));
}

TEST_F(ProgressThrottleTest, ChangeOfFilePassesAfterTwentyMilliseconds) {
    EXPECT_TRUE(report(0, 100, "a"));
    now += 19ms;
    EXPECT_FALSE(report(10, 100, "b"));
    now += 1ms;
    EXPECT_TRUE(report(20, 100, "b"));
}

TEST_F(ProgressThrottleTest, HeldBackReportChangesNothing) {
    EXPECT_TRUE(report(0, 100, "a"));
    now += 10ms;
    EXPECT_FALSE(report(10, 100, "b"));
    // Still measured against "a" at time 0: a change of file after 25 ms.
    now += 15ms;
    EXPECT_TRUE(report(20, 100, "b"));
    now += 10ms;
    EXPECT_FALSE(report(30, 100, "b"));
}

TEST(ProgressThrottle, RealClockPassesTheFirstReport) {
    ProgressThrottle throttle;
    EXPECT_TRUE(throttle.shouldReport(ExtractionProgress{0, 100, "a"}));
}

}  // namespace
}  // namespace tovani
