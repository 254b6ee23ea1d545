#include "platform/audio/NullAudioDevice.h"

#include "platform/dispatch/ThreadPriority.h"

#include <time.h>

#include <cerrno>

namespace kv {

namespace {
void sleepUntil(std::uint64_t hostTime) {
    timespec until{static_cast<time_t>(hostTime / 1'000'000'000ULL), static_cast<long>(hostTime % 1'000'000'000ULL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}
}  // namespace

bool NullAudioDevice::open(Render render) {
    stop();
    render_ = std::move(render);
    return true;
}

bool NullAudioDevice::start() {
    if (running_ || !render_) return running_;
    running_ = true;
    thread_ = std::thread([this, render = render_] {
        nameCurrentThread("AudioDevice");
        std::vector<float> output(kBufferFrames * 2);
        const auto period = static_cast<std::uint64_t>(kBufferFrames * 1e9 / sampleRate_);
        std::uint64_t next = host_clock::now();
        while (running_) {
            render(output.data(), kBufferFrames, host_clock::now());
            next += period;
            const std::uint64_t now = host_clock::now();
            if (now > next + 100'000'000) next = now;  // stalled: resume from now, do not catch up
            sleepUntil(next);
        }
    });
    return true;
}

void NullAudioDevice::stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
}

}  // namespace kv
