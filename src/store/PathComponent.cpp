#include "store/PathComponent.h"

#include "base/IdText.h"

namespace kv {

bool isSafePathComponent(std::string_view component) {
    if (component.empty() || component.size() > kMaxIdBytes) return false;
    if (component == "." || component == "..") return false;
    for (const char c : component) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f) return false;
    }
    return true;
}

}  // namespace kv
