#pragma once

#include "base/AtomicDate.h"
#include "base/Instant.h"
#include "base/SharedObject.h"
#include "base/Synchronized.h"
#include "core/MidiDevice.h"
#include "core/MidiEventList.h"
#include "store/User.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class WebSocketConnection;

// The session state shared by every flow and by the MIDI, playback, metronome and LED threads.
// Every field is read and written whole, atomically or under its own lock. The service owns it.
class KeyvoraFlow {
public:
    static KeyvoraFlow& shared() { return Shared<KeyvoraFlow>::get(); }

    KeyvoraFlow();

    enum AppState : std::int32_t {
        kIdle = 0,
        kCountOff = 1,
        kSongPlaying = 2,
        kDeviceSetting = 3,
        kWaitMode = 4,
        kDeviceSettingSingleConnection = 5,
        kPreparing = 6,
    };

    std::atomic<bool> isPlayMidiMessage{false};
    std::atomic<bool> isStopMusic{true};
    std::atomic<bool> isStopPrepare{false};
    std::atomic<std::int32_t> APP_STATE{kIdle};
    std::atomic<float> timeGetNoteEarly{0.0F};  // ms
    std::atomic<float> valueVolume{0.0F};       // 0 to 100
    std::atomic<std::int32_t> maxVolumeInMidiFile{0};
    Synchronized<std::string> token;
    Synchronized<std::string> keepAliveSessionID;
    Synchronized<std::optional<User>> currentUser;
    // Never absent: before any choice, an empty device that matches no port. Once chosen, the
    // current device is one of the listed objects itself, so a key range set on it shows in the
    // list. The devices' fields are read and written on the main thread only.
    Synchronized<std::shared_ptr<MidiDevice>> currentMidiDevice;
    Synchronized<std::vector<std::shared_ptr<MidiDevice>>> listDevices;
    MidiEventList listMidiEvents;
    // Key press times count from here: the wall-clock date the browser knows, with its host time
    // taken once.
    AtomicInstant baseTime;
    // Pushes go here; a closed connection stays until the next request replaces it.
    Synchronized<std::weak_ptr<WebSocketConnection>> currentConnection;
    AtomicDate lastPlayMidi{std::chrono::system_clock::now()};
    Synchronized<std::string> webVersion;
};

}  // namespace kv
