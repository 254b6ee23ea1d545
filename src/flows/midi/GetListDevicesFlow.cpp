#include "flows/midi/GetListDevicesFlow.h"

#include "midi/MidiManagerHandler.h"

namespace kv {

nlohmann::json GetListDevicesFlow::processData(const nlohmann::json&, const std::string&,
                                               const BaseRequestJSONObject&) {
    auto& manager = MidiManagerHandler::shared();
    manager.moveCurrentDeviceOnTop();
    return manager.convertListDevicesToDictionary();
}

}  // namespace kv
