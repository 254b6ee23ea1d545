#pragma once

#include <cstdint>
#include <mutex>

namespace kv {

// The play epoch by which a newer preparation or play silently ends every loop of an older one,
// and the gate that keeps preparations one at a time.
class PlaySongLogic {
public:
    static std::mutex& transitionGate();
    static std::int32_t currentEpoch();
    static std::int32_t nextEpoch();
    // Supersedes every running play and puts out the key lights.
    static void cancelPlayback();
};

}  // namespace kv
