#include "flows/midi/StartSettingDeviceSingleConnectionFlow.h"

#include "core/KeyvoraFlow.h"
#include "playback/PlayLifecycle.h"


namespace kv {

nlohmann::json StartSettingDeviceSingleConnectionFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) {
    PlayLifecycle::shared().endForMode();
    auto& session = KeyvoraFlow::shared();
    session.baseTime.set(Instant::now());
    session.APP_STATE = KeyvoraFlow::kDeviceSettingSingleConnection;
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace kv
