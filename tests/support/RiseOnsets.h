#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace kv::test {

// Where a sound begins near an expected frame, in a recording whose sounds never fall to digital
// silence (a synthesizer's reverberation rings on): of the 1 ms steps within `within` frames of
// `around`, the one whose level rises most over the level 5 ms before (at least twice it, and
// above `floor`); the onset is the first frame of that step above a fifth of its peak.
std::optional<std::size_t> onsetNear(const std::vector<float>& samples, double sampleRate, std::size_t around,
                                     std::size_t within, float floor = 0.003F);

}  // namespace kv::test
