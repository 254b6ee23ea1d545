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
        // Without a card the host clock is the device's clock: each buffer is given the time its
        // first frame is due, not the time a thread without real-time priority happened to wake.
        std::uint64_t origin = host_clock::now();
        std::uint64_t rendered = 0;  // frames since origin
        const auto due = [&] {
            return origin + static_cast<std::uint64_t>(static_cast<double>(rendered) * 1e9 / sampleRate_);
        };
        while (running_) {
            sleepUntil(due());
            render(output.data(), kBufferFrames, due());
            rendered += kBufferFrames;
            const std::uint64_t now = host_clock::now();
            if (now > due() + 100'000'000) {  // stalled: resume from now, do not catch up
                origin = now;
                rendered = 0;
            }
        }
    });
    return true;
}

void NullAudioDevice::stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
}

}  // namespace kv
