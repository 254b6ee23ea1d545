#include "base/Instant.h"

#include "base/HostClock.h"

namespace kv {

namespace {

std::int64_t wholeMillis(std::int64_t nanos) {
    return nanos >= 0 ? nanos / 1'000'000 : -((-nanos + 999'999) / 1'000'000);
}

}  // namespace

Instant Instant::now() {
    const Date wall = std::chrono::system_clock::now();
    return {wall, host_clock::hostTimeForWallClock(wall)};
}

Instant Instant::atWallClock(Date wall) {
    return {wall, host_clock::hostTimeForWallClock(wall)};
}

std::int64_t Instant::millisUntil(std::uint64_t later) const {
    const std::int64_t wallNanos = std::chrono::duration_cast<std::chrono::nanoseconds>(wall.time_since_epoch()).count();
    const auto elapsed = static_cast<std::int64_t>(later - host);
    return wholeMillis(wallNanos + elapsed) - wholeMillis(wallNanos);
}

}  // namespace kv
