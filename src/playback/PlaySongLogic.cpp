#include "playback/PlaySongLogic.h"

#include "leds/KVLedScheduler.h"

#include <atomic>

namespace kv {

namespace {
std::atomic<std::int32_t> epoch{0};
}  // namespace

std::mutex& PlaySongLogic::transitionGate() {
    static std::mutex gate;
    return gate;
}

std::int32_t PlaySongLogic::currentEpoch() {
    return epoch.load();
}

std::int32_t PlaySongLogic::nextEpoch() {
    return epoch.fetch_add(1) + 1;
}

void PlaySongLogic::cancelPlayback() {
    epoch.fetch_add(1);
    KVLedScheduler::shared().stop();
}

}  // namespace kv
