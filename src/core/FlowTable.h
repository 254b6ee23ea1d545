#pragma once

#include "core/BaseFlow.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace kv {

// Method numbers 1 to 60 to the factory of their flow; a number without one gets no answer.
class FlowTable {
public:
    static constexpr std::int32_t kSize = 60;
    using Factory = std::function<std::unique_ptr<BaseFlow>()>;

    void add(std::int32_t methodName, Factory factory);
    template <class Flow>
    void add(std::int32_t methodName) {
        add(methodName, [] { return std::make_unique<Flow>(); });
    }

    // A new flow, or nothing for a number outside 1 to 60 or without a flow.
    std::unique_ptr<BaseFlow> getBaseFlow(std::int32_t methodName) const;

private:
    std::array<Factory, kSize> factories_;
};

}  // namespace kv
