#include "support/OfflineEngine.h"

#include <sndfile.h>

#include <vector>

namespace kv::test {

std::filesystem::path writeTestClick(const std::filesystem::path& folder) {
    const auto path = folder / "tick.wav";
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<float> samples(200, 0.5F);
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return path;
}

}  // namespace kv::test
