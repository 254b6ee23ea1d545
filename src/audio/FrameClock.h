#pragma once

#include <cstdint>

namespace kv {

// Maps the frames the device renders to host time with a delay-locked loop on the callback
// wake-up times, as JACK does: the estimate follows the device's clock but not the jitter of
// any one wake-up. Buffers may vary in length.
class FrameClock {
public:
    // The smoothed host time of the first frame of the buffer whose callback woke at `wake`.
    std::uint64_t update(std::uint64_t wake, std::uint32_t frames, double sampleRate);

private:
    bool started_ = false;
    double current_ = 0;     // filtered start of this buffer, ns
    double next_ = 0;        // predicted start of the next buffer, ns
    double nsPerFrame_ = 0;  // the device clock's filtered frame length
};

}  // namespace kv
