#include "flows/midi/GetCurrentDeviceFlow.h"

#include "core/KeyvoraFlow.h"

namespace kv {

nlohmann::json GetCurrentDeviceFlow::processData(const nlohmann::json&, const std::string&,
                                                 const BaseRequestJSONObject&) {
    const auto& session = KeyvoraFlow::shared();
    const auto current = session.currentMidiDevice.get();
    return {{"id", current->deviceId},
            {"deviceName", current->name},
            {"deviceCount", session.listDevices.get().size()}};
}

}  // namespace kv
