#pragma once

#include <cstdint>
#include <string>

namespace kv {

// A key named in a request: {"pitch": "C", "octave": 4}.
struct Note {
    std::string pitch;
    std::int32_t octave = 0;
};

}  // namespace kv
