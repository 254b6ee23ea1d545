#include "flows/midi/StopSettingDeviceSingleConnectionFlow.h"

#include "core/KeyvoraFlow.h"
#include "platform/dispatch/MainQueue.h"
#include "playback/PlayLifecycle.h"

namespace kv {

void StopSettingDeviceSingleConnectionFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&, Answer answer) {
    PlayLifecycle::shared().endForMode();
    KeyvoraFlow::shared().APP_STATE = KeyvoraFlow::kIdle;
    Shared<MainQueue>::get().asyncAfter(std::chrono::milliseconds(500), [answer = std::move(answer)] {
        answer({{"code", 0}, {"message", "SUCCESS"}});
    });
}

}  // namespace kv
