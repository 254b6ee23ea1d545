#include "playback/SongObject.h"

#include "base/Log.h"

namespace kv {

void SongObject::stopPlaySong() {
    logText(kLogDebug, "stop play song");
    for (const auto& [channel, synthesizer] : audioGraphCollection.get()) synthesizer->STOP();
}

}  // namespace kv
