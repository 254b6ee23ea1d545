#include "DenseSong.h"

#include <algorithm>
#include <fstream>
#include <random>

namespace kv::bench {

std::vector<Event> denseSong(double seconds) {
    std::mt19937 random(7);
    std::vector<Event> events;
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        events.push_back({0, static_cast<std::uint8_t>(0xC0 | channel), static_cast<std::uint8_t>(channel * 8), 0});
        for (double ms = channel * 37.0; ms < seconds * 1000 - 1000; ms += 300 + random() % 500) {
            const auto note = static_cast<std::uint8_t>(channel == 9 ? 35 + random() % 20 : 36 + random() % 48);
            events.push_back({ms, static_cast<std::uint8_t>(0x90 | channel), note, static_cast<std::uint8_t>(60 + random() % 60)});
            events.push_back({ms + 200 + random() % 600, static_cast<std::uint8_t>(0x80 | channel), note, 0});
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.ms < b.ms; });
    return events;
}

// A tick is 1.0417 ms.
void writeMidiFile(const std::vector<Event>& events, const std::filesystem::path& path) {
    std::vector<std::uint8_t> track;
    auto variable = [&](std::uint32_t value) {
        std::uint8_t bytes[5];
        int count = 0;
        do {
            bytes[count++] = value & 0x7F;
            value >>= 7;
        } while (value);
        for (int i = count - 1; i >= 0; --i) track.push_back(static_cast<std::uint8_t>(bytes[i] | (i ? 0x80 : 0)));
    };
    std::uint32_t lastTick = 0;
    for (const auto& event : events) {
        const auto tick = static_cast<std::uint32_t>(event.ms * 480 / 500);
        variable(tick - lastTick);
        lastTick = tick;
        track.push_back(event.status);
        track.push_back(event.data1);
        if ((event.status & 0xF0) != 0xC0) track.push_back(event.data2);
    }
    for (std::uint8_t byte : {0x00, 0xFF, 0x2F, 0x00}) track.push_back(byte);
    std::ofstream file(path, std::ios::binary);
    const std::uint8_t header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    file.write(reinterpret_cast<const char*>(header), sizeof header);
    const auto size = static_cast<std::uint32_t>(track.size());
    const std::uint8_t length[] = {static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                                   static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
    file.write(reinterpret_cast<const char*>(length), 4);
    file.write(reinterpret_cast<const char*>(track.data()), static_cast<std::streamsize>(track.size()));
}

}  // namespace kv::bench
