#include "base/Console.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace kv {

void consoleLine(std::string_view text) {
    static std::mutex mutex;
    std::string line(text);
    line.push_back('\n');
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace kv
