#pragma once

#include "leds/LedPortMatch.h"
#include "platform/midi/MidiOutput.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace kv {

// The one talker to a keyboard's key lights: finds and holds the keyboard's output port and
// sends a key's SysEx only when its state changes. Safe from any thread.
class KVLedController {
public:
    static constexpr int kLowestKey = 21;
    static constexpr int kHighestKey = 108;
    static constexpr std::uint8_t kUnset = 0xFF;

    KVLedController();
    ~KVLedController();
    KVLedController(const KVLedController&) = delete;
    KVLedController& operator=(const KVLedController&) = delete;

    // The output of the keyboard whose input port has that raw name (see matchLedPort).
    bool openPortWithRawName(const std::string& rawName, const AlikeKeyboard& alike = {});
    void closePort();
    // The output goes with the MIDI system it talked to (a JACK server that went away); the next
    // open makes a new one.
    void dropOutput();
    bool isOpen();
    void setLed(int note, int color, int state);
    // Every key 21 to 108 off in both colours; keys known to be off send nothing.
    void allOff();
    // Sends all 176 off messages, whatever the keys are known to show.
    void forceAllOff();
    bool sendBytes(const unsigned char* bytes, std::size_t size);

private:
    void resetStates();

    std::recursive_mutex lock_;
    std::unique_ptr<MidiOutput> midiOut_;
    std::string openedName_;
    std::array<std::array<std::uint8_t, 2>, 128> ledState_{};
};

}  // namespace kv
