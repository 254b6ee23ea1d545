#include "flows/store/ClearPracticeMinutesFlowByClientID.h"

namespace kv {

nlohmann::json ClearPracticeMinutesFlowByClientID::processData(const nlohmann::json&,
                                                               const std::string&,
                                                               const BaseRequestJSONObject&) {
    return nlohmann::json::object();
}

}  // namespace kv
