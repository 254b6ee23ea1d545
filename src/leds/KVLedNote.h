#pragma once

#include <cstdint>

namespace kv {

// One key of an LED plan, times in milliseconds: dark from flashFrom (the warning window),
// lit from time until offTime.
struct KVLedNote {
    std::int32_t note = 0;
    std::int32_t staff = 0;
    double flashFrom = 0;
    double time = 0;
    double offTime = 0;
};

}  // namespace kv
