#pragma once

#include <array>
#include <cstdint>

namespace kv {

// The keyboard's LED message: F0 4D 4C 4C 45 <note> <colour × 16 + state> F7.
using LedSysEx = std::array<unsigned char, 8>;

constexpr std::uint8_t ledStateByte(int color, int state) {
    return static_cast<std::uint8_t>(color * 16 + (state & 0x0F));
}

constexpr LedSysEx ledSysEx(int note, std::uint8_t stateByte) {
    return {0xF0, 0x4D, 0x4C, 0x4C, 0x45, static_cast<unsigned char>(note), stateByte, 0xF7};
}

}  // namespace kv
