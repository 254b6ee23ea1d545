#pragma once

#include "playback/KeyvoraAudio.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Count-off planning: which sounds, how many ticks and how far apart, from the meter, the beat
// the song starts on and the tempo.
namespace kv {

class SongObject;

using CountOffSounds = std::map<std::string, std::shared_ptr<KeyvoraAudio>>;

bool isCompoundWithBeat(std::int32_t beat, std::int32_t beatType);
float getNumberCountOfBeatWithStartBeat(std::int32_t startBeat, std::int32_t beat, std::int32_t beatType,
                                        std::int32_t numBufferMeasures);
// Milliseconds between ticks.
float getTickSpacingWithTempo(std::int32_t tempo, std::int32_t beat, std::int32_t beatType);
// "oneSound" … "sixteenSound" for 1 … 16, "metronomeSound" 25, "setSound" 26, "goSound" 27; else "".
std::string getCountOffSoundKey(std::int32_t number);
// The numbers of the sounds, tick by tick (0: no sound on that tick).
std::vector<std::int32_t> countOffSoundNumbers(std::int32_t ticks, std::int32_t beat, std::int32_t beatType,
                                               std::int32_t startBeat);
std::vector<std::shared_ptr<KeyvoraAudio>> generateCountOffSoundWithTicks(
    std::int32_t ticks, std::int32_t spacing, std::int32_t beat, std::int32_t beatType, std::int32_t startBeat,
    const CountOffSounds& countOffSounds);
std::vector<std::shared_ptr<KeyvoraAudio>> generateCountOffSound(const CountOffSounds& countOffSounds,
                                                                 const std::vector<std::string>& keys);
// Loads the 19 count-off sounds into the song record, once at launch.
void loadCountOffFiles(SongObject& song, AudioEngine& engine);

}  // namespace kv
