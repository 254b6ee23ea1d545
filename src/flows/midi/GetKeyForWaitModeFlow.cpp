#include "flows/midi/GetKeyForWaitModeFlow.h"

#include "base/Log.h"
#include "core/KeyvoraFlow.h"

namespace kv {

nlohmann::json GetKeyForWaitModeFlow::processData(const nlohmann::json&, const std::string&,
                                                  const BaseRequestJSONObject&) {
    try {
        const auto events = KeyvoraFlow::shared().listMidiEvents.takeAll();
        if (events.empty()) return {{"code", 0}, {"message", "DO NOT HAVE MIDI MESSAGE"}};
        nlohmann::json eventList = nlohmann::json::array();
        for (const auto& event : events) {
            eventList.push_back({{"noteList", {{{"pitch", event.pitch}, {"octave", event.octave}}}},
                                 {"time", event.pressTime},
                                 {"isNoteOn", event.isNoteOn}});
        }
        return {{"eventList", std::move(eventList)}, {"code", 0}, {"message", "SUCCESS"}};
    } catch (const std::exception& error) {
        logText(kLogError, std::string("GetKeyForWaitModeFlow: ") + error.what());
        return {{"code", -1}, {"message", error.what()}};
    }
}

}  // namespace kv
