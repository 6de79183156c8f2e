// ProgressThrottle thins out the progress reports of one extraction job before
// they cross to the main thread: at most one report per 50 ms for the same
// file, a change of file after 20 ms, and a report whose completed count
// equals its total always. The first report always passes. One throttle per
// job, used only on the worker thread.
//
//   ProgressThrottle throttle;
//   handlers.progress = [&](const ExtractionProgress& p) {
//       if (throttle.shouldReport(p)) postToMainThread(p);
//   };
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "TovaniCore/ExtractionProgress.h"

namespace tovani {

class ProgressThrottle {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // A monotonic clock, so that a change of the wall clock cannot hold
    // reports back; tests pass a clock of their own.
    explicit ProgressThrottle(Clock clock = &std::chrono::steady_clock::now);

    // True when the report is to be passed on; only then is it remembered.
    bool shouldReport(const ExtractionProgress& report);

private:
    Clock clock_;
    // Absent until the first report passed: the distant past.
    std::optional<std::chrono::steady_clock::time_point> lastReport_;
    std::string lastPath_;
};

}  // namespace tovani
