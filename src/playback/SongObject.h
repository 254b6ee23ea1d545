#pragma once

#include "base/AtomicDate.h"
#include "base/SharedObject.h"
#include "base/Synchronized.h"
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

// The prepared song and the state of its playback, shared by the flows, the playback threads and
// the count-off. Flags and numbers are atomic; lists are read as whole snapshots.
class SongObject {
public:
    static SongObject& shared() { return Shared<SongObject>::get(); }

    using Synthesizers = std::map<std::int32_t, std::shared_ptr<PlayMidiMessage>>;
    using Sounds = std::vector<std::shared_ptr<KeyvoraAudio>>;
    using SoundCollection = std::map<std::string, std::shared_ptr<KeyvoraAudio>>;

    std::atomic<bool> isStopPlaySong{false};
    std::atomic<bool> isWaitingStopPlaySong{false};
    std::atomic<bool> isPlayCountOff{false};
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
    Synchronized<Sounds> playCountOffList;
    Synchronized<SoundCollection> countOffSoundCollection;
    AtomicDate playStartDate;
    std::atomic<double> playTickSpacing{0};
    Synchronized<std::vector<double>> listCountOffTime;
    std::atomic<double> totalCountOffTime{0};
    Synchronized<nlohmann::json> timeSignatureMap;

    // Ends the sound of a play, once: all notes off on every song synthesizer. The metronome, the
    // lights and the count-off are left alone.
    void stopPlaySong();
};

}  // namespace kv
