#pragma once

#include "audio/AudioBuffer.h"

#include <filesystem>
#include <optional>

namespace kv {

// A sound file (WAV and whatever libsndfile reads) as stereo at the given rate: mono is doubled,
// another rate is resampled, band-limited. Nothing when the file cannot be read, or its rate is
// more than 256 times the given one or less than its 256th.
std::optional<AudioBuffer> readSoundFile(const std::filesystem::path& path, double sampleRate);

}  // namespace kv
