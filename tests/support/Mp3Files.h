#pragma once

#include <filesystem>

namespace kv::test {

// A sine tone encoded to MP3 by lame (44.1 kHz, one or two channels, 0.5 peak). Throws when lame
// is missing or fails.
void writeToneMp3(const std::filesystem::path& file, double seconds, double frequency, int channels = 2);

}  // namespace kv::test
