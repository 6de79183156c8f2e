// ExtractionProgress reports how far the current extraction attempt is.
// completedBytes never exceeds totalBytes.
//
//   double share = p.totalBytes ? double(p.completedBytes) / p.totalBytes : 0;
#pragma once

#include <cstdint>
#include <string>

namespace tovani {

struct ExtractionProgress {
    std::uint64_t completedBytes = 0;
    std::uint64_t totalBytes = 0;
    // Archive path of the entry being processed, as the archive states it.
    std::string currentPath;

    bool operator==(const ExtractionProgress&) const = default;
};

}  // namespace tovani
