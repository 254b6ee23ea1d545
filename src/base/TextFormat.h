#pragma once

#include <string>

namespace kv {

// printf-style text for the log and console lines, whose wording is fixed in that style. The
// compiler checks every argument against its pattern: a wrong type does not build.
[[gnu::format(printf, 1, 2)]] std::string formatText(const char* pattern, ...);

}  // namespace kv
