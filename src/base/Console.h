#pragma once

#include <string_view>

namespace kv {

// Writes one diagnostic line to standard error. Lines from different threads never interleave.
void consoleLine(std::string_view text);

}  // namespace kv
