#include "playback/CountOff.h"

#include "base/Log.h"
#include "playback/SongObject.h"

#include <array>
#include <cmath>

namespace kv {

namespace {

constexpr std::array<const char*, 16> kNumberNames = {"one",    "two",    "three",    "four",    "five",    "six",
                                                      "seven",  "eight",  "nine",     "ten",     "eleven",  "twelve",
                                                      "thirteen", "fourteen", "fifteen", "sixteen"};
constexpr std::int32_t kClick = 25;
constexpr std::int32_t kSet = 26;
constexpr std::int32_t kGo = 27;
constexpr std::int32_t kDefaultTempo = 120;

std::int32_t halfNoteMeterSound(std::int32_t tick, std::int32_t startBeat) {
    if (startBeat == 1) return tick == 0 ? kSet : tick == 2 ? kGo : kClick;
    return tick == 0 ? 1 : tick == 2 ? kSet : tick == 4 ? kGo : kClick;
}

std::int32_t otherMeterSound(std::int32_t tick, std::int32_t ticks, std::int32_t beat, std::int32_t beatType) {
    const bool compound = isCompoundWithBeat(beat, beatType);
    const std::int32_t measureBeats = compound ? beat / 3 : beat;
    const auto counted = compound ? static_cast<std::int32_t>(std::ceil(ticks / 3.0F)) : ticks;
    const float position = compound ? static_cast<float>(tick + 1 + 2) / 3.0F : static_cast<float>(tick + 1);
    if (position != std::floor(position)) return kClick;
    const auto p = static_cast<std::int32_t>(position);
    if (p == counted) return kGo;
    if (p == counted - 1) return kSet;
    if (p <= measureBeats) return p;
    if (measureBeats == 0) return 0;
    return ((p - 1) % measureBeats) + 1;
}

}  // namespace

bool isCompoundWithBeat(std::int32_t beat, std::int32_t beatType) {
    return (beatType % 8 == 0 && beat % 3 == 0) || (beat > 5 && beatType != 4);
}

float getNumberCountOfBeatWithStartBeat(std::int32_t startBeat, std::int32_t beat, std::int32_t beatType,
                                        std::int32_t numBufferMeasures) {
    if (beat == 2 && beatType == 2) return startBeat == 1 ? 5.0F : 7.0F;
    if (beat == 6 && beatType == 4) {
        if (startBeat < 1) return static_cast<float>(startBeat);
        if (startBeat > 3) return 9.0F;
        return startBeat == 2 ? 6.0F : 5.0F;
    }
    // Meters come from requests: counted wide, so no product overflows.
    return static_cast<float>(std::int64_t{numBufferMeasures} * beat + startBeat);
}

// A tempo or beat type below 1 would make the spacing infinite or negative: such a song is
// counted off at 120 in quarter notes, as its MIDI file is then timed.
float getTickSpacingWithTempo(std::int32_t tempo, std::int32_t beat, std::int32_t beatType) {
    const float quarter = 60000.0F / static_cast<float>(tempo >= 1 ? tempo : kDefaultTempo);
    if (beat == 2 && beatType == 2) return quarter;
    return quarter * (4.0F / static_cast<float>(beatType >= 1 ? beatType : 4));
}

std::string getCountOffSoundKey(std::int32_t number) {
    if (number >= 1 && number <= 16) return std::string(kNumberNames[static_cast<std::size_t>(number - 1)]) + "Sound";
    if (number == kClick) return "metronomeSound";
    if (number == kSet) return "setSound";
    if (number == kGo) return "goSound";
    return "";
}

std::vector<std::int32_t> countOffSoundNumbers(std::int32_t ticks, std::int32_t beat, std::int32_t beatType,
                                               std::int32_t startBeat) {
    std::vector<std::int32_t> numbers;
    for (std::int32_t tick = 0; tick < ticks; ++tick) {
        numbers.push_back(beatType == 2 && beat > 0 ? halfNoteMeterSound(tick, startBeat)
                                                    : otherMeterSound(tick, ticks, beat, beatType));
    }
    return numbers;
}

std::vector<std::shared_ptr<KeyvoraAudio>> generateCountOffSoundWithTicks(
    std::int32_t ticks, std::int32_t, std::int32_t beat, std::int32_t beatType, std::int32_t startBeat,
    const CountOffSounds& countOffSounds) {
    std::vector<std::shared_ptr<KeyvoraAudio>> sounds;
    for (const std::int32_t number : countOffSoundNumbers(ticks, beat, beatType, startBeat)) {
        if (number == 0) continue;
        const auto found = countOffSounds.find(getCountOffSoundKey(number));
        if (found == countOffSounds.end()) continue;
        sounds.push_back(found->second);
        logText(kLogInfo, "Count off sound: " + std::to_string(number));
    }
    return sounds;
}

std::vector<std::shared_ptr<KeyvoraAudio>> generateCountOffSound(const CountOffSounds& countOffSounds,
                                                                 const std::vector<std::string>& keys) {
    std::vector<std::shared_ptr<KeyvoraAudio>> sounds;
    for (const auto& key : keys) {
        const auto found = countOffSounds.find(key);
        if (found != countOffSounds.end()) sounds.push_back(found->second);
    }
    return sounds;
}

void loadCountOffFiles(SongObject& song, AudioEngine& engine) {
    CountOffSounds sounds;
    auto load = [&](const std::string& key, const std::string& file) {
        if (auto sound = KeyvoraAudio::initWith(file, "wav", engine)) sounds[key] = std::move(sound);
    };
    for (std::int32_t number = 1; number <= 16; ++number) {
        load(getCountOffSoundKey(number), kNumberNames[static_cast<std::size_t>(number - 1)]);
    }
    load("metronomeSound", "hihat_short_loud");
    load("setSound", "set");
    load("goSound", "go");
    const auto count = sounds.size();
    song.countOffSoundCollection.set(std::move(sounds));
    logText(kLogInfo, "Total count off sound: " + std::to_string(count));
}

}  // namespace kv
