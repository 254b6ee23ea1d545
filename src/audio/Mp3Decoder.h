#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace kv {

// A whole recording decoded to float PCM, one plane per channel, at the file's own rate.
struct DecodedAudio {
    double sampleRate = 0;
    std::vector<std::vector<float>> planes;
    std::uint32_t frames() const { return planes.empty() ? 0 : static_cast<std::uint32_t>(planes.front().size()); }
};

// MP3 through libmpg123, at most `maxSeconds` of it. The reason when the file cannot be opened or
// decoded, or is longer: a length its header claims is never taken on trust for memory.
std::variant<DecodedAudio, std::string> decodeMp3(const std::filesystem::path& file, double maxSeconds);

}  // namespace kv
