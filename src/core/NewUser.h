#pragma once

#include "core/BaseRequestJSONObject.h"
#include "store/User.h"

#include <optional>

namespace kv {

// The record of a client seen for the first time, dated now, not yet saved; nothing when its
// clientID is not an integer that fits 32 bits.
std::optional<User> newUser(const BaseRequestJSONObject& request);

}  // namespace kv
