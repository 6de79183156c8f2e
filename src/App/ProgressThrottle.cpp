#include "App/ProgressThrottle.h"

#include <utility>

namespace tovani {

namespace {

constexpr std::chrono::milliseconds sameFileInterval{50};
constexpr std::chrono::milliseconds newFileInterval{20};

}  // namespace

ProgressThrottle::ProgressThrottle(Clock clock) : clock_(std::move(clock)) {}

bool ProgressThrottle::shouldReport(const ExtractionProgress& report) {
    const auto now = clock_();
    const bool complete = report.completedBytes == report.totalBytes;
    bool passes = true;
    if (lastReport_) {
        const auto elapsed = now - *lastReport_;
        if (elapsed >= sameFileInterval) {
            passes = true;
        } else if (report.currentPath == lastPath_) {
            passes = complete;
        } else {
            passes = elapsed >= newFileInterval || complete;
        }
    }
    if (passes) {
        lastReport_ = now;
        lastPath_ = report.currentPath;
    }
    return passes;
}

}  // namespace tovani
