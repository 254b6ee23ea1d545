#pragma once

#include "store/User.h"

#include <optional>
#include <string_view>

namespace kv {

class UserHelper {
public:
    // The user whose Id is the number `id`; nothing for an id that is not a number.
    static std::optional<User> getUserByID(std::string_view id);
    // Whether a client id can become a new record's Id: an integer, nothing after it. Another
    // text would be cut to its leading digits and overwrite that user's settings.
    static bool isUserId(std::string_view id);
    static bool insertUser(User& user);
    static bool updateUser(User& user);
};

}  // namespace kv
