#include "app/DoctorChecks.h"

#include "audio/AudioOutputKeeper.h"
#include "audio/Synthesizer.h"
#include "base/TextFormat.h"
#include "platform/audio/JackAudioDevice.h"
#include "platform/audio/RtAudioDevice.h"
#include "platform/audio/SoundServers.h"
#include "platform/midi/MidiError.h"
#include "platform/midi/MidiPortList.h"
#include "platform/midi/OpenMidiApi.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace kv {

namespace fs = std::filesystem;

namespace {

using System = AudioOutputKeeper::System;

std::string labelOf(const System& system) {
    if (system.name == "jack") {
        return loadedJackLibrary().string().find("pipewire") != std::string::npos ? "JACK (PipeWire's JACK face)" : "JACK";
    }
    if (system.name == "pulse") return pipeWireRunning() ? "PulseAudio (PipeWire's PulseAudio face)" : "PulseAudio";
    return "ALSA";
}

std::string whyNot(const System& system) {
    if (!system.allowed) return std::string("ruled out by KVPLUGIN_AUDIO_API=") + std::getenv("KVPLUGIN_AUDIO_API");
    if (system.name == "jack") return "no JACK server answers";
    if (system.name == "pulse") return "no PulseAudio server, nor PipeWire's PulseAudio face (pipewire-pulse), in XDG_RUNTIME_DIR";
    return "no sound card: no playback device in /dev/snd";
}

std::unique_ptr<AudioDevice> deviceFor(const System& system) {
    if (system.name == "jack") return std::make_unique<JackAudioDevice>();
    return std::make_unique<RtAudioDevice>(system.name == "pulse" ? RtAudio::LINUX_PULSE : RtAudio::LINUX_ALSA);
}

// Opens the output as the service would, silent, long enough to read its rate and latency.
void tryOutput(const System& system, DoctorSection& section) {
    auto device = deviceFor(system);
    if (!device->open([](float* output, std::uint32_t frames, std::uint64_t) { std::memset(output, 0, frames * 2 * sizeof(float)); })) {
        section.problem(labelOf(system) + " runs, but its output did not open: " + device->lastError() +
                        " (the running service may hold the sound card)");
        return;
    }
    section.say(formatText("Plays through %s at %.0f Hz, %.1f ms from render to sound.", labelOf(system).c_str(),
                           device->sampleRate(), device->outputLatencySeconds() * 1e3));
    device->stop();
}

std::string megabytes(std::uintmax_t bytes) {
    return formatText("%.1f MB", static_cast<double>(bytes) / (1024 * 1024));
}

// The keyboard the store marks as the last chosen, with its key range.
std::optional<std::string> lastChosen(const fs::path& database) {
    std::error_code error;
    if (!fs::exists(database, error)) return std::nullopt;
    try {
        SQLite::Database store(database.string(), SQLite::OPEN_READONLY);
        SQLite::Statement row(store, "SELECT deviceName, lowestNote, highestNote FROM Device WHERE isLatest = 1 LIMIT 1");
        if (!row.executeStep()) return std::nullopt;
        return formatText("\"%s\", keys %d to %d", row.getColumn(0).getString().c_str(), row.getColumn(1).getInt(),
                          row.getColumn(2).getInt());
    } catch (const std::exception&) {
        return std::nullopt;  // the store's own section says why
    }
}

}  // namespace

DoctorSection checkSoundOutput() {
    DoctorSection section{"Sound output"};
    const auto systems = AudioOutputKeeper::systems();
    const auto chosen = std::find_if(systems.begin(), systems.end(), [](const System& system) { return system.running; });
    if (chosen == systems.end()) {
        section.problem("No sound: the service finds no output to play through (the lesson keeps time, silent).");
    } else {
        tryOutput(*chosen, section);
    }
    for (auto system = systems.begin(); system != systems.end(); ++system) {
        const std::string how = system == chosen         ? "used"
                                : system->running       ? "passed over: " + labelOf(*chosen) + " comes first"
                                                        : "passed over: " + whyNot(*system);
        section.say(labelOf(*system) + ": " + how + ".");
    }
    section.say(pipeWireRunning() ? "PipeWire runs; the service reaches it through its PulseAudio or JACK face."
                                  : "PipeWire does not run.");
    return section;
}

DoctorSection checkSoundFont(const fs::path& soundFont) {
    DoctorSection section{"SoundFont"};
    std::error_code error;
    const auto size = fs::file_size(soundFont, error);
    if (error) {
        section.problem(soundFont.string() + " is missing: songs and keys are silent. Install fluid-soundfont-gm or "
                        "timgm6mb-soundfont, or name a General MIDI SoundFont in KVPLUGIN_SOUNDFONT.");
        return section;
    }
    try {
        Synthesizer synthesizer(48000, soundFont);
        section.say(soundFont.string() + " (" + megabytes(size) + ") loads.");
    } catch (const std::exception& failure) {
        section.problem(soundFont.string() + " (" + megabytes(size) + ") does not load: " + failure.what());
    }
    return section;
}

DoctorSection checkKeyboards(const fs::path& database) {
    DoctorSection section{"MIDI keyboards"};
    MidiErrorTrap trap;
    std::unique_ptr<RtMidiIn> midi;
    try {
        const RtMidi::Api api = openOnFirstMidiApi([&](RtMidi::Api api) { midi = openMidiApi<RtMidiIn>(trap, api, "KVPlugin doctor"); });
        section.say(std::string("MIDI system: ") + (api == RtMidi::UNIX_JACK ? "JACK" : "the ALSA sequencer") + ".");
        const auto ports = listForeignPorts(*midi, api);
        if (ports.empty()) section.note("No keyboard is connected: the keys of a lesson go unheard.");
        for (const auto& port : ports) section.say("Sees \"" + port.name + "\".");
    } catch (const MidiError& failure) {
        std::string why = failure.what();
        std::replace(why.begin(), why.end(), '\n', ';');
        section.note("No MIDI system answers, so no keyboard can be seen: " + why + ".");
    }
    const auto chosen = lastChosen(database);
    section.say(chosen ? "Last chosen: " + *chosen + "." : "No keyboard has been chosen yet.");
    return section;
}

}  // namespace kv
