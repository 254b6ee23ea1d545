#include "audio/Resampling.h"

#include <samplerate.h>

#include <cmath>

namespace kv {

// Sounds are resampled once, when they are loaded: quality is worth more than time here.
std::optional<AudioBuffer> resampled(const AudioBuffer& input, double step) {
    if (step == 1 || input.frames() == 0) return input;
    const double ratio = 1 / step;
    if (!std::isfinite(ratio) || src_is_valid_ratio(ratio) == 0) return std::nullopt;
    AudioBuffer output;
    output.sampleRate = input.sampleRate;
    output.samples.resize((static_cast<std::size_t>(std::ceil(input.frames() * ratio)) + 1) * 2);
    SRC_DATA data{};
    data.data_in = input.samples.data();
    data.input_frames = static_cast<long>(input.frames());
    data.data_out = output.samples.data();
    data.output_frames = static_cast<long>(output.samples.size() / 2);
    data.src_ratio = ratio;
    if (src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 2) != 0) return std::nullopt;
    output.samples.resize(static_cast<std::size_t>(data.output_frames_gen) * 2);
    return output;
}

}  // namespace kv
