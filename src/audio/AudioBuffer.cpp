#include "audio/AudioBuffer.h"

#include <cmath>

namespace kv {

float AudioBuffer::peak() const {
    float peak = 0.0F;
    for (const float sample : samples) peak = std::max(peak, std::abs(sample));
    return peak;
}

}  // namespace kv
