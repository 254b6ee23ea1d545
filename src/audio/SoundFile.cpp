#include "audio/SoundFile.h"

#include "audio/Resampling.h"

#include <sndfile.h>

#include <cmath>
#include <memory>
#include <vector>

namespace kv {

namespace {

struct SndfileClose {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

}  // namespace

std::optional<AudioBuffer> readSoundFile(const std::filesystem::path& path, double sampleRate) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileClose> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file || info.channels < 1 || info.frames < 0) return std::nullopt;
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t read = sf_readf_float(file.get(), interleaved.data(), info.frames);
    AudioBuffer stereo;
    stereo.samples.resize(static_cast<std::size_t>(read) * 2);
    for (sf_count_t frame = 0; frame < read; ++frame) {
        const float* in = interleaved.data() + frame * info.channels;
        stereo.samples[static_cast<std::size_t>(frame) * 2] = in[0];
        stereo.samples[static_cast<std::size_t>(frame) * 2 + 1] = info.channels > 1 ? in[1] : in[0];
    }
    auto output = resampled(stereo, info.samplerate / sampleRate);
    if (output) output->sampleRate = sampleRate;
    return output;
}

}  // namespace kv
