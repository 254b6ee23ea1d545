#include "platform/audio/RtAudioDevice.h"

#include "platform/dispatch/ThreadPriority.h"
#include "platform/jack/JackServerWatch.h"

#include <algorithm>

namespace kv {

RtAudioDevice::RtAudioDevice(RtAudio::Api api) : api_(api) {}

RtAudioDevice::~RtAudioDevice() {
    stop();
}

int RtAudioDevice::callback(void* output, void*, unsigned int frames, double, RtAudioStreamStatus status,
                            void* self) {
    const std::uint64_t wake = host_clock::now();
    auto& device = *static_cast<RtAudioDevice*>(self);
    // The library's thread, or JACK's: named once a stream, so that it can be found in a profile.
    if (!device.threadNamed_) {
        nameCurrentThread("AudioDevice");
        device.threadNamed_ = true;
    }
    if (status & RTAUDIO_OUTPUT_UNDERFLOW) device.underflows_.fetch_add(1, std::memory_order_relaxed);
    device.render_(static_cast<float*>(output), frames, wake);
    return 0;
}

bool RtAudioDevice::open(Render render) {
    stop();
    render_ = std::move(render);
    quietenAudioSystemLibraries();
    try {
        audio_ = std::make_unique<RtAudio>(api_);
        audio_->showWarnings(false);
        if (audio_->getDeviceCount() == 0) throw RtAudioError("no audio output device", RtAudioError::NO_DEVICES_FOUND);
        RtAudio::StreamParameters parameters;
        parameters.deviceId = audio_->getDefaultOutputDevice();
        parameters.nChannels = 2;
        const RtAudio::DeviceInfo info = audio_->getDeviceInfo(parameters.deviceId);
        const auto& rates = info.sampleRates;
        unsigned int rate = kPreferredRate;
        if (!rates.empty() && std::find(rates.begin(), rates.end(), rate) == rates.end()) rate = info.preferredSampleRate;
        unsigned int frames = kPreferredFrames;
        RtAudio::StreamOptions options;
        options.streamName = "KVPlugin";
        options.flags = RTAUDIO_SCHEDULE_REALTIME;  // granted where the user may; else it runs as it is
        const bool pulse = audio_->getCurrentApi() == RtAudio::LINUX_PULSE;
        if (pulse) options.numberOfBuffers = kPulseBuffers;
        audio_->openStream(&parameters, nullptr, RTAUDIO_FLOAT32, rate, &frames, &RtAudioDevice::callback, this, &options);
        sampleRate_ = audio_->getStreamSampleRate();
        const long latency = audio_->getStreamLatency();
        latencySeconds_ = static_cast<double>(latency == 0 && pulse ? kPulseBuffers * frames : latency) / sampleRate_;
        name_ = RtAudio::getApiDisplayName(audio_->getCurrentApi()) + ": " + info.name;
        return true;
    } catch (const RtAudioError& error) {
        lastError_ = error.getMessage();
        audio_.reset();
        return false;
    }
}

bool RtAudioDevice::start() {
    if (!audio_) return false;
    try {
        underflows_ = 0;
        threadNamed_ = false;
        audio_->startStream();
        return true;
    } catch (const RtAudioError& error) {
        lastError_ = error.getMessage();
        stop();
        return false;
    }
}

bool RtAudioDevice::healthy() const {
    return audio_ && audio_->isStreamRunning();
}

// Aborted, not drained: a drain waits for callbacks that a stalled or vanished device never makes.
void RtAudioDevice::stop() {
    if (!audio_) return;
    try {
        if (audio_->isStreamRunning()) audio_->abortStream();
        if (audio_->isStreamOpen()) audio_->closeStream();
    } catch (const RtAudioError&) {
    }
    audio_.reset();
}

}  // namespace kv
