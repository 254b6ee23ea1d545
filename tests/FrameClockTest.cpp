#include "audio/FrameClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace kv {
namespace {

constexpr std::uint32_t kFrames = 256;
constexpr double kRate = 48000;

// A device whose clock runs 50 ppm fast, and callbacks that wake up to 2 ms after their buffer
// is due, at random.
struct JitteryDevice {
    double nsPerFrame = 1e9 / kRate / (1 + 50e-6);
    double due = 1e12;
    std::mt19937 random{3};
    std::uniform_real_distribution<double> lateness{0, 2e6};

    std::uint64_t nextWake() {
        const double wake = due + lateness(random);
        due += kFrames * nsPerFrame;
        return static_cast<std::uint64_t>(wake);
    }
};

TEST(FrameClock, FollowsTheDevicesClockButNotTheJitterOfItsWakeUps) {
    FrameClock clock;
    JitteryDevice device;
    double lowest = 1e18, highest = -1e18;
    for (int buffer = 0; buffer < 60 * 188; ++buffer) {  // a minute
        const double due = device.due;
        const double estimate = static_cast<double>(clock.update(device.nextWake(), kFrames, kRate));
        if (buffer < 30 * 188) continue;  // settling
        lowest = std::min(lowest, estimate - due);
        highest = std::max(highest, estimate - due);
    }
    // The wake-ups spread over 2 ms; the estimate keeps near their mean lateness and moves far less.
    EXPECT_LT(highest - lowest, 1e6);
    EXPECT_GT(lowest, 0.2e6);
    EXPECT_LT(highest, 1.8e6);
}

TEST(FrameClock, ALateWakeUpIsSmoothedAndAStallStartsAnew) {
    FrameClock clock;
    const double period = kFrames * 1e9 / kRate;
    double wake = 1e12;
    for (int buffer = 0; buffer < 400; ++buffer, wake += period) clock.update(static_cast<std::uint64_t>(wake), kFrames, kRate);

    // One callback 20 ms late: the next buffer's start stays where the clock says, within a little.
    const auto late = clock.update(static_cast<std::uint64_t>(wake + 20e6), kFrames, kRate);
    EXPECT_NEAR(static_cast<double>(late), wake, 1e6);
    wake += period;

    // A stall of 300 ms (a suspended machine, a restarted stream): the clock takes the wake-up as
    // it is and counts on from there, instead of catching up buffer by buffer.
    wake += 300e6;
    EXPECT_EQ(clock.update(static_cast<std::uint64_t>(wake), kFrames, kRate), static_cast<std::uint64_t>(wake));
    wake += period;
    EXPECT_NEAR(static_cast<double>(clock.update(static_cast<std::uint64_t>(wake), kFrames, kRate)), wake, 1e3);
}

}  // namespace
}  // namespace kv
