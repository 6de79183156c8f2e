// SkippedEntry names an entry the staging writer chose not to create (a
// refused link, a device node) and why. Hashable, so duplicates collapse in a set.
//
//   std::unordered_set<SkippedEntry> seen(result.skipped().begin(), result.skipped().end());
#pragma once

#include <functional>
#include <string>

namespace tovani {

struct SkippedEntry {
    enum class Reason {
        // The target would leave the output, or is not a regular file in it.
        unsafeLinkTarget,
        // The archive does not carry the link's target text.
        unreadableLinkTarget,
        // A device node, FIFO or socket, which is never created.
        specialFile,
    };

    std::string path;
    Reason reason = Reason::unsafeLinkTarget;

    bool operator==(const SkippedEntry&) const = default;
};

}  // namespace tovani

template <>
struct std::hash<tovani::SkippedEntry> {
    std::size_t operator()(const tovani::SkippedEntry& e) const noexcept {
        return std::hash<std::string>{}(e.path) * 31u + static_cast<std::size_t>(e.reason);
    }
};
