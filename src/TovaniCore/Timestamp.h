// Timestamp is a point in time as archives store it: whole seconds since
// 1970-01-01 00:00:00 UTC (negative before) and the nanoseconds within that
// second. Integers both, so that a time given to the nanosecond lands
// exactly, and any year from 1601 to beyond 9999 fits.
//
//   Timestamp t{1'600'000'000, 123'456'789};  // 2020-09-13 12:26:40.123456789
//   Timestamp before1970{-1, 500'000'000};     // 1969-12-31 23:59:59.5
#pragma once

#include <compare>
#include <cstdint>

namespace tovani {

struct Timestamp {
    static constexpr std::uint32_t kNanosecondsPerSecond = 1'000'000'000;

    std::int64_t seconds = 0;
    // Always below kNanosecondsPerSecond.
    std::uint32_t nanoseconds = 0;

    auto operator<=>(const Timestamp&) const = default;
};

}  // namespace tovani
