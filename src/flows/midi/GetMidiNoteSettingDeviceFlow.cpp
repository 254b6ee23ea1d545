#include "flows/midi/GetMidiNoteSettingDeviceFlow.h"

#include "base/Log.h"
#include "core/KeyvoraFlow.h"

namespace kv {

nlohmann::json GetMidiNoteSettingDeviceFlow::processData(const nlohmann::json&, const std::string&,
                                                         const BaseRequestJSONObject&) {
    try {
        auto& session = KeyvoraFlow::shared();
        const auto events = session.listMidiEvents.takeAll();
        if (events.empty()) return {{"message", "DO NOT HAVE MIDI MESSAGE"}, {"code", -1}};
        const MidiEvent& event = events.front();
        const auto current = session.currentMidiDevice.get();
        return {{"id", current->deviceId},
                {"deviceName", current->name},
                {"percent", static_cast<float>(event.velocity) * 100.0F / 127.0F},
                {"note", {{"pitch", event.pitch}, {"octave", event.octave}}},
                {"message", "SUCCESS"},
                {"code", 0}};
    } catch (const std::exception& error) {
        logText(kLogError, std::string("GetMidiNoteSettingDeviceFlow: ") + error.what());
        return {{"message", error.what()}, {"code", -1}};
    }
}

}  // namespace kv
