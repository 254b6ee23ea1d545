#include "midi/flows/StopWaitModeFlow.h"

#include "core/KeyvoraFlow.h"

#include <chrono>
#include <thread>

namespace kv {

nlohmann::json StopWaitModeFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) {
    KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kIdle;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return {{"code", 0}, {"message", "SUCCESS"}};
}

}  // namespace kv
