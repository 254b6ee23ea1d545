#include "platform/midi/MidiPortList.h"

#include "platform/midi/MidiError.h"

#include <alsa/asoundlib.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <regex>
#include <utility>

namespace kv {

namespace {

constexpr std::array<std::string_view, 2> kOwnClients = {"RtMidi Input Client",
                                                         "RtMidi Output Client"};

std::string_view clientPart(std::string_view name) {
    return name.substr(0, name.find(':'));
}

void silentAlsaError(const char*, int, const char*, int, const char*, ...) {}

// Asked quietly: the MIDI library would print its failure on every retry.
bool alsaSequencerOpens() {
    snd_lib_error_set_handler(&silentAlsaError);
    snd_seq_t* sequencer = nullptr;
    const bool opens = snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_DUPLEX, 0) == 0;
    if (opens) snd_seq_close(sequencer);
    snd_lib_error_set_handler(nullptr);
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

std::string stablePortName(RtMidi::Api api, std::string_view libraryName) {
    static const std::regex alsaAddress(R"( [0-9]+:[0-9]+$)");
    static const std::regex jackDuplicate(R"(^([^:]*)-[0-9]{2}:)");
    const std::string name(libraryName);
    if (api == RtMidi::LINUX_ALSA) return std::regex_replace(name, alsaAddress, "");
    if (api == RtMidi::UNIX_JACK) {
        return std::regex_replace(name, jackDuplicate, "$1:", std::regex_constants::format_first_only);
    }
    return name;
}

std::vector<MidiPortInfo> listForeignPorts(RtMidi& midi, RtMidi::Api api) {
    std::vector<MidiPortInfo> ports;
    const unsigned count = midi.getPortCount();
    for (unsigned index = 0; index < count; ++index) {
        std::string name = stablePortName(api, midi.getPortName(index));
        bool own = false;
        for (auto client : kOwnClients) own = own || clientPart(name) == client;
        if (!own) ports.push_back({index, std::move(name)});
    }
    return ports;
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
