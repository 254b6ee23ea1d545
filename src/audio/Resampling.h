#pragma once

#include "audio/AudioBuffer.h"

#include <optional>

namespace kv {

// The stereo buffer read `step` frames on for each frame made, with libsamplerate's band-limited
// converter: a step of 2 halves its length and doubles its pitch. The rate it is marked with
// stays. Nothing for a step beyond 256 either way.
std::optional<AudioBuffer> resampled(const AudioBuffer& input, double step);

}  // namespace kv
