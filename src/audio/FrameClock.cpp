#include "audio/FrameClock.h"

#include <cmath>
#include <numbers>

namespace kv {

namespace {
constexpr double kBandwidthHz = 1.0;
constexpr double kResyncNanos = 50e6;  // a wake-up this far off (a stall, a restarted stream) starts anew
}  // namespace

std::uint64_t FrameClock::update(std::uint64_t wake, std::uint32_t frames, double sampleRate) {
    const double time = static_cast<double>(wake);
    if (!started_ || std::abs(time - next_) > kResyncNanos) {
        started_ = true;
        current_ = time;
        nsPerFrame_ = 1e9 / sampleRate;
        next_ = time + frames * nsPerFrame_;
        return wake;
    }
    const double period = frames * nsPerFrame_;
    const double omega = 2.0 * std::numbers::pi * kBandwidthHz * period * 1e-9;
    const double error = time - next_;
    current_ = next_;
    next_ = current_ + period + std::sqrt(2.0) * omega * error;
    nsPerFrame_ += omega * omega * error / frames;
    return static_cast<std::uint64_t>(std::llround(current_));
}

}  // namespace kv
