#include "midi/flows/StopSettingDeviceSingleConnectionFlow.h"

#include "core/KeyvoraFlow.h"

#include <chrono>
#include <thread>

namespace kv {

nlohmann::json StopSettingDeviceSingleConnectionFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) {
    KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kIdle;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace kv
