#pragma once

#include <cstdint>

namespace kv {

// What sounds a play's metronome clicks, each handed over ahead of its host time.
class ClickSound {
public:
    virtual ~ClickSound() = default;
    virtual void click(bool accented, std::uint64_t hostTime) = 0;
};

}  // namespace kv
