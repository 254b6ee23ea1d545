#include "flows/midi/StartSettingDeviceFlow.h"

#include "core/KeyvoraFlow.h"
#include "playback/PlayLifecycle.h"

namespace kv {

nlohmann::json StartSettingDeviceFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) {
    PlayLifecycle::shared().endForMode();
    KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kDeviceSetting;
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace kv
