#pragma once

#include "audio/AudioBuffer.h"

namespace kv {

// The buffer read `step` frames on for each frame made, between frames linearly: a step of 2
// halves its length and doubles its pitch. The rate it is marked with stays.
AudioBuffer resampled(const AudioBuffer& input, double step);

}  // namespace kv
