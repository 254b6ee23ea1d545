#include "playback/SongChase.h"

#include <array>
#include <optional>

namespace kv {

namespace {
constexpr std::int32_t kResetAllControllers = 121;
constexpr std::size_t kControllers = 120;  // 120 … 127 are channel mode messages

struct ChannelSetup {
    std::optional<std::int32_t> program;
    std::array<std::optional<std::int32_t>, kControllers> controllers;
};
}  // namespace

std::vector<std::vector<std::int32_t>> chaseBefore(const std::vector<MidiPlayList>& groups, std::int32_t first) {
    std::vector<std::vector<std::int32_t>> messages;
    if (first <= 0) return messages;
    std::array<ChannelSetup, 16> setups;
    const auto end = std::min<std::size_t>(static_cast<std::size_t>(first), groups.size());
    for (std::size_t i = 0; i < end; ++i) {
        for (const MidiMessage& message : groups[i].listNotes) {
            if (message.array.size() < 2) continue;
            ChannelSetup& setup = setups[static_cast<std::size_t>(message.array[0] & 0x0F)];
            const std::int32_t kind = message.array[0] & 0xF0;
            if (kind == 0xC0) setup.program = message.array[1];
            if (kind != 0xB0 || message.array.size() < 3) continue;
            const std::int32_t controller = message.array[1];
            if (controller == kResetAllControllers) setup.controllers.fill(std::nullopt);
            if (controller >= 0 && static_cast<std::size_t>(controller) < kControllers) {
                setup.controllers[static_cast<std::size_t>(controller)] = message.array[2];
            }
        }
    }
    for (std::int32_t channel = 0; channel < 16; ++channel) {
        const ChannelSetup& setup = setups[static_cast<std::size_t>(channel)];
        if (setup.program) messages.push_back({0xC0 | channel, *setup.program});
        for (std::size_t controller = 0; controller < kControllers; ++controller) {
            if (const auto value = setup.controllers[controller]) {
                messages.push_back({0xB0 | channel, static_cast<std::int32_t>(controller), *value});
            }
        }
    }
    return messages;
}

}  // namespace kv
