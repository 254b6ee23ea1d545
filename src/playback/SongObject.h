#pragma once

#include "base/SharedObject.h"
#include "base/Synchronized.h"
#include "playback/CountOffPlan.h"
#include "playback/KeyvoraAudio.h"
#include "playback/MidiPlayList.h"
#include "playback/PlayMidiMessage.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// The prepared song and the settings of its playback, shared by the flows and the play. Whether a
// play is on is the play's lifecycle's (PlayLifecycle); numbers are atomic, lists read as whole
// snapshots.
class SongObject {
public:
    static SongObject& shared() { return Shared<SongObject>::get(); }

    using Synthesizers = std::map<std::int32_t, std::shared_ptr<PlayMidiMessage>>;
    using SoundCollection = std::map<std::string, std::shared_ptr<KeyvoraAudio>>;

    std::atomic<bool> isAudio{false};
    std::atomic<bool> isTempoMapEnable{false};
    std::atomic<std::int32_t> playTempo{0};
    std::atomic<std::int32_t> playStartIndex{0};
    std::atomic<std::int32_t> playEndIndex{0};
    std::atomic<std::int32_t> volume{0};
    std::atomic<std::int32_t> playBeat{0};
    std::atomic<std::int32_t> playBeatType{0};
    std::atomic<std::int32_t> playStartBeat{0};
    std::atomic<std::int32_t> playNumberOfTicks{0};
    std::atomic<std::int32_t> play8Note{0};
    std::atomic<std::int32_t> metronomeVolume{0};
    std::atomic<std::int32_t> instrumentVolume{0};
    std::atomic<std::int32_t> countOffVolume{94};
    std::atomic<float> latency{0.0F};
    Synchronized<Synthesizers> audioGraphCollection;
    Synchronized<std::shared_ptr<const std::vector<MidiPlayList>>> midiData{
        std::make_shared<const std::vector<MidiPlayList>>()};
    Synchronized<nlohmann::json> tempoMap{nlohmann::json::array()};
    Synchronized<std::string> playSongID;
    std::atomic<double> playStartTime{0};
    std::atomic<double> playEndTime{0};
    Synchronized<nlohmann::json> listAudio{nlohmann::json::array()};
    Synchronized<CountOffPlan> countOff;
    Synchronized<SoundCollection> countOffSoundCollection;
    std::atomic<double> playTickSpacing{0};
    Synchronized<nlohmann::json> timeSignatureMap;

    // Ends the song's sound: what was sent ahead is dropped and every note of every song
    // synthesizer goes off.
    void stopPlaySong();
};

}  // namespace kv
