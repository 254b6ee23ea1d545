#include "flows/leds/SetLedFlow.h"

#include "base/Log.h"
#include "leds/KVLedScheduler.h"

namespace kv {

nlohmann::json SetLedFlow::processData(const nlohmann::json& requestData, const std::string&,
                                       const BaseRequestJSONObject&) {
    try {
        const auto leds = requestData.find("leds");
        KVLedScheduler::shared().applyStaticLeds(leds == requestData.end() ? nlohmann::json() : *leds);
        return {{"message", "SUCCESS"}, {"code", 0}};
    } catch (const std::exception& error) {
        logText(kLogError, std::string("SetLedFlow: ") + error.what());
        return {{"message", error.what()}, {"code", -1}};
    }
}

}  // namespace kv
