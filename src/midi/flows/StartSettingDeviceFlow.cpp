#include "midi/flows/StartSettingDeviceFlow.h"

#include "core/KeyvoraFlow.h"

namespace kv {

nlohmann::json StartSettingDeviceFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) {
    KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kDeviceSetting;
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace kv
