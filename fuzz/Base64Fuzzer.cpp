// libFuzzer: Base64 as the cache flows decode an upload. Built and run by `make fuzz`.
#include "base/Base64.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto decoded = kv::decodeBase64({reinterpret_cast<const char*>(data), size});
    if (decoded.size() > size * 3 / 4 + 3) __builtin_trap();
    return 0;
}
