#pragma once

#include "store/RecordColumn.h"

#include <cstdint>
#include <string>
#include <tuple>

namespace kv {

// This installation's permanent identifier; only the first record is ever read.
struct Installation {
    std::int64_t Id = 0;
    std::string installationId;
    std::string createdDate;
    std::string modifiedDate;

    static constexpr const char* kTable = "Installation";
    static constexpr bool kIdFromCaller = false;
    static constexpr auto columns() {
        return std::make_tuple(column("installationId", &Installation::installationId),
                               column("createdDate", &Installation::createdDate),
                               column("modifiedDate", &Installation::modifiedDate));
    }
};

}  // namespace kv
