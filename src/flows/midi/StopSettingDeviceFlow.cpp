#include "flows/midi/StopSettingDeviceFlow.h"

#include "core/KeyvoraFlow.h"
#include "playback/PlayLifecycle.h"

namespace kv {

nlohmann::json StopSettingDeviceFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) {
    PlayLifecycle::shared().endForMode();
    KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kIdle;
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace kv
