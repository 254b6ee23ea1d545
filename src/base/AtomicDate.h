#pragma once

#include "base/DateText.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>

namespace kv {

// A wall-clock date, or none, that several threads read and write without a lock.
class AtomicDate {
public:
    AtomicDate() = default;
    explicit AtomicDate(Date date) { set(date); }

    void set(Date date) { ticks_.store(date.time_since_epoch().count(), std::memory_order_release); }
    void reset() { ticks_.store(kNone, std::memory_order_release); }

    std::optional<Date> get() const {
        const auto ticks = ticks_.load(std::memory_order_acquire);
        if (ticks == kNone) return std::nullopt;
        return Date(Date::duration(ticks));
    }

private:
    static constexpr Date::rep kNone = std::numeric_limits<Date::rep>::min();
    std::atomic<Date::rep> ticks_{kNone};
};

}  // namespace kv
