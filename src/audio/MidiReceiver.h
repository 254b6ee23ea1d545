#pragma once

#include <cstdint>

namespace kv {

// Takes MIDI channel messages, now or at a host time.
class MidiReceiver {
public:
    static constexpr std::uint64_t kNow = 0;

    virtual ~MidiReceiver() = default;
    // command 0x80 … 0xE0 (the status without its channel); false when not taken.
    virtual bool send(std::uint8_t command, int channel, std::uint8_t data1, std::uint8_t data2,
                      std::uint64_t hostTime = kNow) = 0;
    // Drops the channel's messages sent before this call whose time has not come yet.
    virtual void discardTimed(int /*channel*/) {}
    // Gets a program ready to sound on the channel later, without selecting it.
    virtual void preload(int /*channel*/, std::uint8_t /*program*/) {}
};

}  // namespace kv
