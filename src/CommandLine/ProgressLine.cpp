#include "CommandLine/ProgressLine.h"

#include "CommandLine/TerminalText.h"

#include <cstdio>

namespace tovani {

void ProgressLine::update(const std::string& archiveName, const ExtractionProgress& progress) {
    if (!enabled_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(50)) {
        return;
    }
    lastDraw_ = now;
    drawn_ = true;
    const unsigned percent =
        progress.totalBytes == 0
            ? 0u
            : static_cast<unsigned>(static_cast<long double>(progress.completedBytes) * 100 /
                                    static_cast<long double>(progress.totalBytes));
    // Carriage return and erase-to-end keep it on one line.
    std::fprintf(stderr, "\r\033[K%s  %3u%%  %s", terminalSafe(archiveName).c_str(), percent,
                 terminalSafe(progress.currentPath).c_str());
    std::fflush(stderr);
}

void ProgressLine::clear() {
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }
}

}  // namespace tovani
