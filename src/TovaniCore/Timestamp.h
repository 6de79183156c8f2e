// Timestamp is a point in time: seconds since 1970-01-01 00:00:00 UTC, held
// as a double so that sub-second parts of archive times survive.
//
//   Timestamp t{std::chrono::duration<double>(1.25)};
//   double seconds = t.time_since_epoch().count();  // 1.25
#pragma once

#include <chrono>

namespace tovani {

using Timestamp = std::chrono::sys_time<std::chrono::duration<double>>;

inline Timestamp timestampFromSeconds(double seconds) {
    return Timestamp{std::chrono::duration<double>(seconds)};
}

inline double secondsSince1970(Timestamp t) {
    return t.time_since_epoch().count();
}

}  // namespace tovani
