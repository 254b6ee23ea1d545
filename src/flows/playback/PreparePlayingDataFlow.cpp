#include "flows/playback/PreparePlayingDataFlow.h"

#include "playback/PlayLifecycle.h"

namespace kv {

void PreparePlayingDataFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject& request,
                                         Answer answer) {
    PlayLifecycle::shared().prepare(request, std::move(answer));
}

}  // namespace kv
