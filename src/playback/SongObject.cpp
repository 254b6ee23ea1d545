#include "playback/SongObject.h"

#include "base/Log.h"

namespace kv {

void SongObject::stopPlaySong() {
    if (isStopPlaySong.exchange(true)) return;
    logText(kLogDebug, "stop play song");
    isWaitingStopPlaySong = false;
    for (const auto& [channel, synthesizer] : audioGraphCollection.get()) synthesizer->STOP();
}

}  // namespace kv
