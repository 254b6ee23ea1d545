#include "playback/PrepareSongData.h"

#include "base/Log.h"
#include "base/Numbers.h"
#include "playback/CountOff.h"
#include "playback/SongObject.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// A meter from a request could ask for billions of ticks; no song counts off more than this.
constexpr std::int32_t kMaxCountOffTicks = 128;

std::int32_t fourFourTicks(std::int32_t startBeat, std::int32_t startPosition) {
    const bool first = startPosition == 1;
    switch (startBeat) {
        case 1: return first ? 4 : 5;
        case 2: return first ? 5 : 6;
        case 3: return first ? 6 : 3;
        default: return first ? 3 : 4;
    }
}

void planByService(SongObject& song) {
    logText(kLogInfo, "Count-off is controlled by Plugin");
    const std::int32_t beat = song.playBeat;
    const std::int32_t beatType = song.playBeatType;
    const std::int32_t startBeat = song.playStartBeat;
    const std::int32_t bufferMeasures = isCompoundWithBeat(beat, beatType) && song.playTempo >= 101 ? 2 : 1;
    const std::int32_t ticks =
        beat == 4 && beatType == 4
            ? fourFourTicks(startBeat, song.play8Note)
            : std::clamp(saturatedInt32(getNumberCountOfBeatWithStartBeat(startBeat, beat, beatType, bufferMeasures)) - 1,
                         0, kMaxCountOffTicks);
    song.playNumberOfTicks = ticks;
    const float spacing = getTickSpacingWithTempo(song.playTempo, beat, beatType);
    song.playTickSpacing = spacing;
    song.playCountOffList.set(generateCountOffSoundWithTicks(ticks, static_cast<std::int32_t>(spacing), beat, beatType,
                                                             startBeat, song.countOffSoundCollection.get()));
}

}  // namespace

void PrepareSongData::prepareCountOff(const std::vector<std::string>& keys) {
    auto& song = SongObject::shared();
    if (keys.empty()) {
        planByService(song);
    } else {
        logText(kLogInfo, "Count-off is controlled by Webapp");
        auto sounds = generateCountOffSound(song.countOffSoundCollection.get(), keys);
        song.playNumberOfTicks = static_cast<std::int32_t>(sounds.size());
        song.playCountOffList.set(std::move(sounds));
    }
    logText(kLogInfo, "Total count off sound: " + std::to_string(song.playCountOffList.get().size()));
    logText(kLogInfo, "Done prepare count off sound");
}

}  // namespace kv
