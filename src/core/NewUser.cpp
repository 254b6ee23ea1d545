#include "core/NewUser.h"

#include "base/DateText.h"
#include "base/IdText.h"

namespace kv {

std::optional<User> newUser(const BaseRequestJSONObject& request) {
    const auto id = int32FromIdText(request.clientID.value_or(""));
    if (!id) return std::nullopt;
    User user;
    user.Id = *id;
    user.token = request.token.value_or("");
    user.createdDate = toString();
    user.modifiedDate = user.createdDate;
    user.lastAccess = user.createdDate;
    return user;
}

}  // namespace kv
