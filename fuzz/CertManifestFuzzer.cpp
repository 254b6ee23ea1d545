// libFuzzer: a certificate manifest as a server could serve it. Built and run by `make fuzz`.
#include "core/CertManifest.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed = kv::CertManifest::parse({reinterpret_cast<const char*>(data), size});
    if (const auto* manifest = std::get_if<kv::CertManifest>(&parsed)) {
        if (manifest->version.empty() || manifest->url.empty()) __builtin_trap();
    }
    return 0;
}
