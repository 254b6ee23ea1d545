#pragma once

#include "audio/AudioBuffer.h"

#include <filesystem>
#include <optional>

namespace kv {

// A sound file (WAV and whatever libsndfile reads) as stereo at the given rate: mono is doubled,
// another rate is resampled linearly. Nothing when the file cannot be read.
std::optional<AudioBuffer> readSoundFile(const std::filesystem::path& path, double sampleRate);

}  // namespace kv
