#pragma once

#include <cstdio>
#include <string>

namespace kv {

// printf-style text for the log and console lines, whose wording is fixed in that style.
template <class... Arguments>
std::string formatText(const char* pattern, Arguments... arguments) {
    const int length = std::snprintf(nullptr, 0, pattern, arguments...);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), pattern, arguments...);
    text.pop_back();
    return text;
}

}  // namespace kv
