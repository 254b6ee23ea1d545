#pragma once

#include "store/RecordColumn.h"

#include <cstdint>
#include <string>
#include <tuple>

namespace kv {

// An exercise whose score is cached, in any language; Id is its id in the web application.
struct Exercise {
    std::int64_t Id = 0;
    std::string lastModifiedDate;

    static constexpr const char* kTable = "Exercise";
    static constexpr bool kIdFromCaller = true;
    static constexpr auto columns() {
        return std::make_tuple(column("lastModifiedDate", &Exercise::lastModifiedDate));
    }
};

}  // namespace kv
