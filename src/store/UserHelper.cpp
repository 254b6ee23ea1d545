#include "store/UserHelper.h"

#include "base/Log.h"
#include "store/RecordTable.h"

namespace kv {

std::optional<User> UserHelper::getUserByID(std::string_view id) const {
    return RecordTable<User>::first(database_, Condition().id("Id", id));
}

bool UserHelper::insertUser(User& user) const {
    const bool saved = RecordTable<User>::commit(database_, user);
    if (!saved) logText(kLogError, "insert user fail");
    return saved;
}

bool UserHelper::updateUser(User& user) const {
    const bool saved = RecordTable<User>::commit(database_, user);
    if (!saved) logText(kLogError, "update user fail");
    return saved;
}

}  // namespace kv
