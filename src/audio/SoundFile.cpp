#include "audio/SoundFile.h"

#include <sndfile.h>

#include <cmath>
#include <memory>
#include <vector>

namespace kv {

namespace {

struct SndfileClose {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

AudioBuffer resampled(const AudioBuffer& input, double fromRate, double toRate) {
    if (fromRate == toRate || input.frames() == 0) return input;
    const double ratio = fromRate / toRate;
    const auto frames = static_cast<std::uint32_t>(std::floor((input.frames() - 1) / ratio)) + 1;
    AudioBuffer output;
    output.samples.resize(static_cast<std::size_t>(frames) * 2);
    for (std::uint32_t j = 0; j < frames; ++j) {
        const double position = j * ratio;
        const auto k = static_cast<std::uint32_t>(position);
        const auto next = std::min(k + 1, input.frames() - 1);
        const auto fraction = static_cast<float>(position - k);
        for (std::uint32_t c = 0; c < 2; ++c) {
            output.samples[j * 2 + c] = input.samples[k * 2 + c] * (1 - fraction) + input.samples[next * 2 + c] * fraction;
        }
    }
    return output;
}

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
    auto output = resampled(stereo, info.samplerate, sampleRate);
    output.sampleRate = sampleRate;
    return output;
}

}  // namespace kv
