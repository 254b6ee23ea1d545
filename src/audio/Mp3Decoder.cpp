#include "audio/Mp3Decoder.h"

#include <mpg123.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

namespace kv {

namespace {

// What is reserved ahead, whatever the header claims: a minute at the file's rate.
constexpr std::size_t kReservedSeconds = 60;

struct HandleDelete {
    void operator()(mpg123_handle* handle) const {
        mpg123_close(handle);
        mpg123_delete(handle);
    }
};

std::variant<DecodedAudio, std::string> decode(const std::filesystem::path& file, double maxSeconds) {
    static std::once_flag initialized;
    std::call_once(initialized, [] { mpg123_init(); });
    int error = MPG123_OK;
    std::unique_ptr<mpg123_handle, HandleDelete> handle(mpg123_new(nullptr, &error));
    if (!handle) return std::string(mpg123_plain_strerror(error));
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_FLOAT, 0);
    mpg123_format_none(handle.get());
    for (const long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L}) {
        mpg123_format(handle.get(), rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    }
    if (mpg123_open(handle.get(), file.c_str()) != MPG123_OK) return std::string(mpg123_strerror(handle.get()));
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(handle.get(), &rate, &channels, &encoding) != MPG123_OK || channels < 1) {
        return std::string(mpg123_strerror(handle.get()));
    }
    mpg123_format_none(handle.get());
    mpg123_format(handle.get(), rate, channels, MPG123_ENC_FLOAT_32);  // the format stays as found
    DecodedAudio audio;
    audio.sampleRate = static_cast<double>(rate);
    audio.planes.resize(static_cast<std::size_t>(channels));
    const auto maxFrames = static_cast<std::size_t>(std::max(0.0, maxSeconds) * static_cast<double>(rate));
    if (const off_t length = mpg123_length(handle.get()); length > 0) {
        const std::size_t reserved = std::min({static_cast<std::size_t>(length), maxFrames, kReservedSeconds * static_cast<std::size_t>(rate)});
        for (auto& plane : audio.planes) plane.reserve(reserved);
    }
    std::vector<float> chunk(16384);
    while (true) {
        std::size_t bytes = 0;
        const int result = mpg123_read(handle.get(), reinterpret_cast<unsigned char*>(chunk.data()), chunk.size() * sizeof(float), &bytes);
        const std::size_t width = audio.planes.size();
        const std::size_t frames = bytes / sizeof(float) / width;
        const std::size_t at = audio.frames();
        if (at + frames > maxFrames) return std::string("longer than the longest stem taken");
        for (std::size_t channel = 0; channel < width; ++channel) {
            auto& plane = audio.planes[channel];
            plane.resize(at + frames);
            float* out = plane.data() + at;
            for (std::size_t frame = 0; frame < frames; ++frame) out[frame] = chunk[frame * width + channel];
        }
        if (result == MPG123_DONE) break;
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) return std::string(mpg123_strerror(handle.get()));
    }
    return audio;
}

}  // namespace

std::variant<DecodedAudio, std::string> decodeMp3(const std::filesystem::path& file, double maxSeconds) {
    try {
        return decode(file, maxSeconds);
    } catch (const std::bad_alloc&) {
        return std::string("not enough memory to decode it");
    }
}

}  // namespace kv
