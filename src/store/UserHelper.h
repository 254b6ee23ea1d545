#pragma once

#include "store/User.h"

#include <optional>
#include <string_view>

namespace kv {

class UserHelper {
public:
    // The user whose Id is the number `id`; nothing for an id that is not a 32-bit integer.
    static std::optional<User> getUserByID(std::string_view id);
    static bool insertUser(User& user);
    static bool updateUser(User& user);
};

}  // namespace kv
