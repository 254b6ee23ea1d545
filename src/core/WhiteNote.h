#pragma once

#include <cstdint>
#include <string>

namespace kv {

struct WhiteNote {
    std::string pitch;
    std::int32_t octave = 0;
};

}  // namespace kv
