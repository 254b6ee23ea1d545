#include "platform/midi/MidiPortList.h"

#include "platform/jack/JackServerWatch.h"
#include "platform/midi/MidiError.h"

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace kv {

namespace {

constexpr std::array<std::string_view, 2> kOwnClients = {"RtMidi Input Client",
                                                         "RtMidi Output Client"};

std::string_view clientPart(std::string_view name) {
    return name.substr(0, name.find(':'));
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "20:0": digits, a colon, digits.
bool isAddress(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon + 1 == text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != colon && !isDigit(text[i])) return false;
    }
    return true;
}

// Without its device the sequencer cannot open: that is known without reading ALSA's configuration.
bool alsaSequencerOpens() {
    if (access("/dev/snd/seq", F_OK) != 0) return false;
    quietenAudioSystemLibraries();
    snd_seq_t* sequencer = nullptr;
    const bool opens = snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_DUPLEX, 0) == 0;
    if (opens) snd_seq_close(sequencer);
    return opens;
}

}  // namespace

std::vector<RtMidi::Api> midiApisToTry() {
    const char* chosen = std::getenv("KVPLUGIN_MIDI_API");
    const std::string_view api = chosen ? chosen : "";
    if (api == "alsa") return {RtMidi::LINUX_ALSA};
    if (api == "jack") return {RtMidi::UNIX_JACK};
    if (alsaSequencerOpens()) return {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK};
    return {RtMidi::UNIX_JACK};
}

bool midiSystemPresent() {
    for (const RtMidi::Api api : midiApisToTry()) {
        if (api == RtMidi::LINUX_ALSA || jackServerRunning()) return true;
    }
    return false;
}

std::string stablePortName(RtMidi::Api api, std::string_view libraryName) {
    std::string_view name = libraryName;
    if (api == RtMidi::LINUX_ALSA) {
        // " <client>:<port>" at the end
        const auto space = name.rfind(' ');
        if (space != std::string_view::npos && isAddress(name.substr(space + 1))) return std::string(name.substr(0, space));
    } else if (api == RtMidi::UNIX_JACK) {
        // "<client>-NN:<port>" for the second client of one name
        const auto colon = name.find(':');
        if (colon != std::string_view::npos && colon >= 3 && name[colon - 3] == '-' && isDigit(name[colon - 2]) &&
            isDigit(name[colon - 1])) {
            return std::string(name.substr(0, colon - 3)) + std::string(name.substr(colon));
        }
    }
    return std::string(name);
}

std::vector<MidiPortInfo> foreignPorts(RtMidi::Api api, const std::vector<std::string>& rawNames) {
    std::vector<MidiPortInfo> ports;
    for (unsigned index = 0; index < rawNames.size(); ++index) {
        std::string name = stablePortName(api, rawNames[index]);
        bool own = false;
        for (auto client : kOwnClients) own = own || clientPart(name) == client;
        if (!own) ports.push_back({index, rawNames[index], std::move(name)});
    }
    return ports;
}

std::vector<MidiPortInfo> listForeignPorts(RtMidi& midi, RtMidi::Api api) {
    std::vector<std::string> rawNames;
    const unsigned count = midi.getPortCount();
    for (unsigned index = 0; index < count; ++index) rawNames.push_back(midi.getPortName(index));
    return foreignPorts(api, rawNames);
}

std::optional<unsigned> portIndexNamed(RtMidi& midi, const std::string& rawName) {
    const unsigned count = midi.getPortCount();
    for (unsigned index = 0; index < count; ++index) {
        if (midi.getPortName(index) == rawName) return index;
    }
    return std::nullopt;
}

void MidiErrorTrap::attach(RtMidi& midi) {
    midi.setErrorCallback(&MidiErrorTrap::report, this);
}

void MidiErrorTrap::check() {
    std::string error;
    {
        std::lock_guard lock(mutex_);
        error = std::exchange(error_, {});
    }
    if (!error.empty()) throw MidiError(error);
}

std::string MidiErrorTrap::takeWarnings() {
    std::lock_guard lock(mutex_);
    return std::exchange(warnings_, {});
}

// Runs on the library's own threads too, so it never throws: the library would stay in its
// "reporting" state and swallow every later error.
void MidiErrorTrap::report(RtMidiError::Type type, const std::string& text, void* self) {
    auto& trap = *static_cast<MidiErrorTrap*>(self);
    std::lock_guard lock(trap.mutex_);
    const bool warning = type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING;
    std::string& kept = warning ? trap.warnings_ : trap.error_;
    if (!warning && !kept.empty()) return;
    if (!kept.empty()) kept += '\n';
    kept += text;
}

}  // namespace kv
