#include "core/NewUser.h"

#include "core/DateText.h"
#include "core/JsonReading.h"
#include "store/UserHelper.h"

namespace kv {

std::optional<User> newUser(const BaseRequestJSONObject& request) {
    const std::string clientID = request.clientID.value_or("");
    if (!UserHelper::isUserId(clientID)) return std::nullopt;
    User user;
    user.Id = json_reading::toInt32(clientID);
    user.token = request.token.value_or("");
    user.createdDate = toString();
    user.modifiedDate = user.createdDate;
    user.lastAccess = user.createdDate;
    return user;
}

}  // namespace kv
