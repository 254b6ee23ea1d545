#pragma once

#include "store/RecordColumn.h"

#include <cstdint>
#include <string>
#include <tuple>

namespace kv {

// One user of the web application; Id is the user's id there.
struct User {
    std::int64_t Id = 0;
    std::string token;
    std::string createdDate;
    std::string modifiedDate;
    std::string lastAccess;
    bool speakerPc = false;
    std::int32_t speakerPcVelocity = 0;  // percent, stored as sent

    static constexpr const char* kTable = "User";
    static constexpr bool kIdFromCaller = true;
    static constexpr auto columns() {
        return std::make_tuple(column("token", &User::token), column("createdDate", &User::createdDate),
                               column("modifiedDate", &User::modifiedDate),
                               column("lastAccess", &User::lastAccess),
                               column("speakerPc", &User::speakerPc),
                               column("speakerPcVelocity", &User::speakerPcVelocity));
    }
};

}  // namespace kv
