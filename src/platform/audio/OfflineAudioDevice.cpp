#include "platform/audio/OfflineAudioDevice.h"

#include <algorithm>
#include <cmath>

namespace kv {

bool OfflineAudioDevice::open(Render render) {
    render_ = std::move(render);
    return true;
}

std::uint64_t OfflineAudioDevice::hostTimeOfFrame(std::uint64_t frame) const {
    return kStartTime + static_cast<std::uint64_t>(std::llround(static_cast<double>(frame) * 1e9 / sampleRate_));
}

std::uint64_t OfflineAudioDevice::now() const {
    return hostTimeOfFrame(rendered_);
}

void OfflineAudioDevice::renderFrames(std::uint64_t frames) {
    while (frames > 0 && render_) {
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, kBufferFrames));
        const std::size_t at = recorded_.size();
        recorded_.resize(at + static_cast<std::size_t>(count) * 2);
        render_(recorded_.data() + at, count, now());
        rendered_ += count;
        frames -= count;
    }
}

}  // namespace kv
