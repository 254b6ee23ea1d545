#include "base/TextFormat.h"

#include <cstdarg>
#include <cstdio>

namespace kv {

std::string formatText(const char* pattern, ...) {
    va_list arguments;
    va_start(arguments, pattern);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, pattern, measuring);
    va_end(measuring);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), pattern, arguments);
        text.pop_back();
    }
    va_end(arguments);
    return text;
}

}  // namespace kv
