// ProgressLine keeps one self-updating line on the terminal's standard error
// with the archive's name, the share done and the current entry. It redraws
// at most every 50 ms and draws nothing when disabled.
//
//   ProgressLine line(!quiet && isatty(STDERR_FILENO));
//   handlers.progress = [&](const ExtractionProgress& p) { line.update("a.rar", p); };
//   ...
//   line.clear();
#pragma once

#include <chrono>
#include <string>

#include "TovaniCore/ExtractionProgress.h"

namespace tovani {

class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}

    void update(const std::string& archiveName, const ExtractionProgress& progress);
    // Erases the line, so that the next output starts on a clean line.
    void clear();

private:
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace tovani
