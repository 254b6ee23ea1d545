#pragma once

#include "store/Database.h"
#include "store/User.h"

#include <optional>
#include <string_view>

namespace kv {

class UserHelper {
public:
    explicit UserHelper(Database& database) : database_(database) {}

    // The user whose Id is the number `id`; nothing for an id that is not a 32-bit integer.
    std::optional<User> getUserByID(std::string_view id) const;
    bool insertUser(User& user) const;
    bool updateUser(User& user) const;

private:
    Database& database_;
};

}  // namespace kv
