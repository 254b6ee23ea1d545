#pragma once

#include <chrono>
#include <cstdint>

namespace kv {

// The host clock: CLOCK_MONOTONIC nanoseconds are the host ticks (time base 1/1).
namespace host_clock {

std::uint64_t now();
inline double ticksToSeconds(std::int64_t ticks) { return static_cast<double>(ticks) * 1e-9; }
inline std::int64_t secondsToTicks(double seconds) { return static_cast<std::int64_t>(seconds * 1e9); }

// The host time at which the wall clock shows `wall`: five (host, wall, host) samples, the one
// whose two host readings are closest, its host midpoint paired with its wall reading.
std::uint64_t hostTimeForWallClock(std::chrono::system_clock::time_point wall);

}  // namespace host_clock
}  // namespace kv
