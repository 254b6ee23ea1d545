#include "support/Mp3Files.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace kv::test {

void writeToneMp3(const std::filesystem::path& file, double seconds, double frequency, int channels) {
    constexpr double kRate = 44100;
    const auto frames = static_cast<std::size_t>(seconds * kRate);
    std::vector<std::int16_t> samples;
    samples.reserve(frames * static_cast<std::size_t>(channels));
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double value = 0.5 * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(frame) / kRate);
        for (int channel = 0; channel < channels; ++channel) samples.push_back(static_cast<std::int16_t>(value * 32767));
    }
    const auto raw = std::filesystem::path(file).replace_extension(".raw");
    std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(samples.data()),
                                               static_cast<std::streamsize>(samples.size() * sizeof(std::int16_t)));
    const std::string command = "lame --quiet -r -s 44.1 --signed --bitwidth 16 --little-endian -m " +
                                std::string(channels == 1 ? "m" : "j") + " '" + raw.string() + "' '" + file.string() + "'";
    const int status = std::system(command.c_str());
    std::filesystem::remove(raw);
    if (status != 0) throw std::runtime_error("lame failed: " + command);
}

}  // namespace kv::test
