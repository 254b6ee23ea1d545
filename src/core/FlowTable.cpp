#include "core/FlowTable.h"

#include <stdexcept>

namespace kv {

void FlowTable::add(std::int32_t methodName, Factory factory) {
    if (methodName < 1 || methodName > kSize) {
        throw std::out_of_range("method number outside the flow table");
    }
    factories_[static_cast<std::size_t>(methodName - 1)] = std::move(factory);
}

std::unique_ptr<BaseFlow> FlowTable::getBaseFlow(std::int32_t methodName) const {
    if (methodName < 1 || methodName > kSize) return nullptr;
    const auto& factory = factories_[static_cast<std::size_t>(methodName - 1)];
    return factory ? factory() : nullptr;
}

}  // namespace kv
