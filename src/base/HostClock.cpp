#include "base/HostClock.h"

#include <time.h>

#include <limits>

namespace kv::host_clock {

namespace {
std::uint64_t read(clockid_t clock) {
    timespec time{};
    clock_gettime(clock, &time);
    return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000ULL + static_cast<std::uint64_t>(time.tv_nsec);
}
}  // namespace

std::uint64_t now() {
    return read(CLOCK_MONOTONIC);
}

std::uint64_t hostTimeForWallClock(std::chrono::system_clock::time_point wall) {
    std::uint64_t bestSpread = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t hostMidpoint = 0;
    std::int64_t wallNanos = 0;
    for (int sample = 0; sample < 5; ++sample) {
        const std::uint64_t before = now();
        const std::uint64_t wallNow = read(CLOCK_REALTIME);
        const std::uint64_t after = now();
        if (after - before < bestSpread) {
            bestSpread = after - before;
            hostMidpoint = before + (after - before) / 2;
            wallNanos = static_cast<std::int64_t>(wallNow);
        }
    }
    const auto target = std::chrono::duration_cast<std::chrono::nanoseconds>(wall.time_since_epoch()).count();
    const std::int64_t lead = target - wallNanos;
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(hostMidpoint) + lead);
}

}  // namespace kv::host_clock
