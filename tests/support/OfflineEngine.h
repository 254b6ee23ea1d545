#pragma once

#include "audio/AudioEngine.h"
#include "platform/audio/OfflineAudioDevice.h"

#include <filesystem>
#include <memory>

namespace kv::test {

// A started engine on the offline device: the test renders by hand against its virtual clock.
struct OfflineEngine {
    OfflineEngine() {
        auto owned = std::make_unique<OfflineAudioDevice>();
        device = owned.get();
        engine = std::make_unique<AudioEngine>(std::move(owned));
        engine->start();
    }

    OfflineAudioDevice* device;
    std::unique_ptr<AudioEngine> engine;
};

// A click of 200 frames at 0.5 as a 48 kHz WAV file in the folder: its onset and its level are
// plain in a recording.
std::filesystem::path writeTestClick(const std::filesystem::path& folder);

}  // namespace kv::test
