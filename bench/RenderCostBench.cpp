// CPU time per second of audio: our engine (synthesizer playing a dense General MIDI song, and
// the metronome) rendering offline, next to the fluidsynth command rendering the same song:
//   kv_bench_render_cost <SoundFont> <work folder>
#include "platform/audio/AudioEngine.h"
#include "platform/audio/OfflineAudioDevice.h"
#include "platform/audio/Synthesizer.h"
#include "platform/desktop/Resources.h"
#include "playback/Metronome.h"

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

struct Event {
    double ms;
    std::uint8_t status, data1, data2;
};

constexpr double kSeconds = 60;

// 16 channels, each on its own General MIDI program, about 40 notes a second in all.
std::vector<Event> denseSong() {
    std::mt19937 random(7);
    std::vector<Event> events;
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        events.push_back({0, static_cast<std::uint8_t>(0xC0 | channel), static_cast<std::uint8_t>(channel * 8), 0});
        for (double ms = channel * 37.0; ms < kSeconds * 1000 - 1000; ms += 300 + random() % 500) {
            const auto note = static_cast<std::uint8_t>(channel == 9 ? 35 + random() % 20 : 36 + random() % 48);
            events.push_back({ms, static_cast<std::uint8_t>(0x90 | channel), note, static_cast<std::uint8_t>(60 + random() % 60)});
            events.push_back({ms + 200 + random() % 600, static_cast<std::uint8_t>(0x80 | channel), note, 0});
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.ms < b.ms; });
    return events;
}

// A type-0 standard MIDI file: 480 ticks a quarter note at 120 per minute, so a tick is 1.0417 ms.
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

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <SoundFont> <work folder>\n", argv[0]);
        return 2;
    }
    const std::string soundFont = argv[1];
    const std::filesystem::path folder = argv[2];
    const auto events = denseSong();
    writeMidiFile(events, folder / "dense.mid");

    auto device = std::make_unique<kv::OfflineAudioDevice>();
    auto* offline = device.get();
    kv::AudioEngine engine(std::move(device));
    auto synthesizer = std::make_shared<kv::Synthesizer>(engine.sampleRate(), soundFont);
    engine.connect(synthesizer, engine.mainMixerNode());
    engine.start();
    kv::Metronome metronome(engine, kv::resourcePath("sounds/tick.wav"));

    const double ours0 = cpuSeconds(RUSAGE_SELF);
    metronome.startWithInterval(0.5);
    std::size_t next = 0;
    for (int second = 0; second < kSeconds; ++second) {
        for (; next < events.size() && events[next].ms < (second + 1) * 1000.0; ++next) {
            const auto& event = events[next];
            const auto frame = static_cast<std::uint64_t>(event.ms * 48.0);
            synthesizer->send(event.status & 0xF0, event.status & 0x0F, event.data1, event.data2, offline->hostTimeOfFrame(frame));
        }
        for (int step = 0; step < 10; ++step) {
            offline->renderFrames(4800);
            metronome.schedulePendingTicksNow();
        }
    }
    metronome.stop();
    const double ours = cpuSeconds(RUSAGE_SELF) - ours0;

    const double theirs0 = cpuSeconds(RUSAGE_CHILDREN);
    const std::string command = "fluidsynth -ni -q -r 48000 -F '" + (folder / "dense.wav").string() + "' '" + soundFont +
                                "' '" + (folder / "dense.mid").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return 1;
    const double theirs = cpuSeconds(RUSAGE_CHILDREN) - theirs0;
    std::printf("%zu events, %.0f s of audio\n", events.size(), kSeconds);
    std::printf("kvplugin engine (synthesizer + metronome): %.4f s CPU per s of audio\n", ours / kSeconds);
    std::printf("fluidsynth -F (same song):                 %.4f s CPU per s of audio\n", theirs / kSeconds);
    std::printf("ratio ours / fluidsynth: %.2f\n", ours / theirs);
    return 0;
}
