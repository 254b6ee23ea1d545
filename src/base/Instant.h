#pragma once

#include "base/DateText.h"
#include "base/Synchronized.h"

#include <cstdint>
#include <optional>

namespace kv {

// One moment on both clocks: the wall clock the web application speaks in, and the host clock
// (CLOCK_MONOTONIC) on which everything the service times runs. A wall-clock instant is turned
// into host time once, here; what is timed from it is counted on the host clock.
struct Instant {
    Date wall;
    std::uint64_t host = 0;

    static Instant now();
    static Instant atWallClock(Date wall);

    // Whole milliseconds from this instant to the host time `later`, as the web application counts
    // them: each side read as whole milliseconds since 1970 before subtracting.
    std::int64_t millisUntil(std::uint64_t later) const;
};

// An instant, or none, that several threads read and write whole.
using AtomicInstant = Synchronized<std::optional<Instant>>;

}  // namespace kv
