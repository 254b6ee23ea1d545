#include "playback/PrepareSongData.h"

#include "base/Console.h"
#include "base/JsonReading.h"
#include "base/Log.h"
#include "base/Numbers.h"
#include "base/TextFormat.h"
#include "core/CacheCipher.h"
#include "midifile/MidiFileCheck.h"
#include "midifile/TrackReader.h"
#include "playback/CountOff.h"
#include "playback/MidiSongReader.h"
#include "playback/SongObject.h"
#include "store/CachePaths.h"
#include "store/File.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <utility>

namespace kv {

namespace {

// A meter or a list from a request could ask for billions of ticks; no song counts off more.
constexpr std::int32_t kMaxCountOffTicks = 128;
constexpr const char* kNotCached = "MIDI file was not cached yet!";
constexpr const char* kCopyName = "prepare_song";

std::int32_t fourFourTicks(std::int32_t startBeat, std::int32_t startPosition) {
    const bool first = startPosition == 1;
    switch (startBeat) {
        case 1: return first ? 4 : 5;
        case 2: return first ? 5 : 6;
        case 3: return first ? 6 : 3;
        default: return first ? 3 : 4;
    }
}

std::vector<std::shared_ptr<KeyvoraAudio>> planByService(SongObject& song) {
    logText(kLogInfo, "Count-off is controlled by Plugin");
    const std::int32_t beat = song.playBeat;
    const std::int32_t beatType = song.playBeatType;
    const std::int32_t startBeat = song.playStartBeat;
    const std::int32_t bufferMeasures = isCompoundWithBeat(beat, beatType) && song.playTempo >= 101 ? 2 : 1;
    const std::int32_t ticks =
        beat == 4 && beatType == 4
            ? fourFourTicks(startBeat, song.play8Note)
            : static_cast<std::int32_t>(std::clamp<std::int64_t>(
                  std::int64_t{saturatedInt32(getNumberCountOfBeatWithStartBeat(startBeat, beat, beatType, bufferMeasures))} - 1, 0,
                  kMaxCountOffTicks));
    song.playNumberOfTicks = ticks;
    const float spacing = getTickSpacingWithTempo(song.playTempo, beat, beatType);
    song.playTickSpacing = spacing;
    return generateCountOffSoundWithTicks(ticks, static_cast<std::int32_t>(spacing), beat, beatType, startBeat,
                                          song.countOffSoundCollection.get());
}

double numberOr(const nlohmann::json& data, const char* key, double fallback) {
    const auto value = json_reading::readDouble(data, key);
    return value.value_or(fallback);
}

std::int32_t integerOr(const nlohmann::json& data, const char* key) {
    return json_reading::readInt32(data, key).value_or(0);
}

// The request's strings, at most as many as a count-off has ticks; other values are skipped.
std::vector<std::string> soundKeys(const nlohmann::json& data) {
    std::vector<std::string> keys;
    const auto list = data.find("listCountOffSound");
    if (list == data.end() || !list->is_array()) return keys;
    for (const auto& key : *list) {
        if (keys.size() == kMaxCountOffTicks) break;
        if (key.is_string()) keys.push_back(key.get<std::string>());
    }
    return keys;
}

std::vector<double> countOffTimes(const nlohmann::json& data) {
    std::vector<double> times;
    const auto list = data.find("listCountOffTime");
    if (list == data.end() || !list->is_array()) return times;
    for (const auto& time : *list) {
        if (times.size() == kMaxCountOffTicks) break;
        times.push_back(json_reading::toDouble(time));
    }
    return times;
}

// Step 4 of a preparation: the playing data into the record.
void copySettings(const nlohmann::json& data, SongObject& song) {
    song.playSongID.set(std::to_string(integerOr(data, "songId")));
    song.playTempo = integerOr(data, "tempo");
    const auto meter = data.find("timeSignature");
    const bool hasMeter = meter != data.end() && meter->is_object();
    song.playBeat = hasMeter ? integerOr(*meter, "beats") : 0;
    song.playBeatType = hasMeter ? integerOr(*meter, "beatType") : 0;
    song.playStartBeat = integerOr(data, "startBeat");
    song.playStartTime = numberOr(data, "startTime", 0);
    song.playEndTime = numberOr(data, "endTime", 0);
    song.play8Note = integerOr(data, "startPosition");
    song.volume = integerOr(data, "accompanimentVolume");
    song.metronomeVolume = integerOr(data, "metronomeVolume");
    song.instrumentVolume = integerOr(data, "instrumentVolume");
    song.playTickSpacing = numberOr(data, "tickSpacing", 0);
    const auto stems = data.find("audioFiles");
    song.listAudio.set(stems != data.end() ? *stems : nlohmann::json());
    song.isAudio = json_reading::readBool(data, "isPlayAudio").value_or(false);
    const auto meters = data.find("timeSignatureMap");
    song.timeSignatureMap.set(meters != data.end() && meters->is_array() ? *meters : nlohmann::json());
    song.isTempoMapEnable = json_reading::readBool(data, "isTempoMapEnable").value_or(false);
    const auto tempoMap = data.find("tempoMaps");
    song.tempoMap.set(tempoMap != data.end() && tempoMap->is_array() ? *tempoMap : nlohmann::json::array());
}

// Ticks a quarter note in the header; a time-code division or none counts 480, as the analysis does.
double ticksPerQuarter(const std::vector<std::uint8_t>& file) {
    const std::uint32_t division = bigEndian(file.data() + 12, 2);
    return (division & 0x8000) || division == 0 ? 480 : division;
}

std::optional<std::vector<std::uint8_t>> cachedSong(const std::string& songID) {
    const auto path = getMidiCacheFolderPathWithSongID(songID);
    if (!path || !File::isFileExistWithFilePath(*path)) {
        logText(kLogError, kNotCached);
        return std::nullopt;
    }
    const auto cipher = File::readFromFileToDataWithURL(*path);
    auto plain = cipher ? decryptData(*cipher) : std::nullopt;
    // The reader trusts the lengths in a file: one the browser sent is checked first.
    if (!plain || !isWellFormedMidiFile(*plain)) {
        logText(kLogError, "cached MIDI file cannot be read: " + path->string());
        return std::nullopt;
    }
    return plain;
}

// The song's programs are loaded now, so that selecting one while it plays reads no file.
void preloadPrograms(const std::vector<MidiPlayList>& groups, const SongObject::Synthesizers& synthesizers) {
    if (synthesizers.empty()) return;
    std::set<std::pair<int, int>> loaded;
    for (const MidiPlayList& group : groups) {
        for (const MidiMessage& message : group.listNotes) {
            if (message.array.size() < 2 || (message.array[0] & 0xF0) != 0xC0) continue;
            const std::pair<int, int> program{message.array[0] & 0x0F, message.array[1]};
            if (loaded.insert(program).second) synthesizers.begin()->second->preloadProgram(program.first, program.second);
        }
    }
}

}  // namespace

void PrepareSongData::execute(Completion completion) {
    completion_ = std::move(completion);
    auto& song = song_;
    resetSongObject(song);
    if (!jsonRequest_.data || !jsonRequest_.data->is_object()) return complete({{"duration", 0}, {"code", 0}});
    const nlohmann::json& data = *jsonRequest_.data;
    copySettings(data, song);
    const auto ledNotes = data.find("ledNotes");
    lights_.parseAndSetPlanFromJson(ledNotes != data.end() ? *ledNotes : nlohmann::json(), song.playStartTime);
    prepareCountOff(song, soundKeys(data), countOffTimes(data));
    if (const auto volume = json_reading::readInt32(data, "countOffVolume")) song.countOffVolume = *volume;
    const auto stems = song.listAudio.get();
    if (song.isAudio && !stems.is_null()) return prepareStems();
    song.isAudio = false;
    if (!loadMidiFile(song, synthesizer_)) {
        logText(kLogInfo, kNotCached);
        return complete({{"duration", 0}, {"code", -1}, {"message", kNotCached}});
    }
    complete(prepared());
}

nlohmann::json PrepareSongData::prepared() const {
    return {{"duration", saturatedInt64(song_.countOff.get().lengthMs)},
            {"code", 0},
            {"isSetDevice", 0},
            {"message", "PREPARE DATA SUCCESS"}};
}

void PrepareSongData::complete(nlohmann::json result) {
    if (auto completion = std::exchange(completion_, {})) completion(std::move(result));
}

// The stems are downloaded, then decoded and armed at the playing tempo, each step reporting on
// the main queue. A stem that cannot be fetched makes the song a MIDI song; one that does not
// decode fails the preparation.
void PrepareSongData::prepareStems() {
    auto& song = song_;
    tracks_.fetch(song.listAudio.get(), song.playSongID.get(), [self = shared_from_this()](std::optional<std::string> error) {
        boost::asio::post(self->main_, [self, error = std::move(error)] {
            auto& song = self->song_;
            if (error) {
                consoleLine("[StemsDownloader] Download failed: " + *error);
                song.isAudio = false;
                if (!loadMidiFile(song, self->synthesizer_)) {
                    return self->complete({{"duration", 0}, {"code", -1}, {"message", kNotCached}});
                }
                return self->complete(self->prepared());
            }
            self->tracks_.prepare(song.playSongID.get(), static_cast<double>(song.playTempo),
                                  [self](std::optional<std::string> failed) {
                                      boost::asio::post(self->main_, [self, failed = std::move(failed)] {
                                          if (!failed) return self->complete(self->prepared());
                                          consoleLine("[StemsPlayer] " + *failed);
                                          self->complete({{"duration", 0}, {"code", -1}, {"message", "Audio error"}});
                                      });
                                  });
        });
    });
}

void PrepareSongData::resetSongObject(SongObject& song) {
    song.audioGraphCollection.set({});
    song.countOff.set({});
    song.midiData.set(std::make_shared<const std::vector<MidiPlayList>>());
    song.isAudio = false;
    song.isTempoMapEnable = false;
    song.timeSignatureMap.set(nlohmann::json());
    song.tempoMap.set(nlohmann::json::array());
}

// The plain copy is what the reader opens; it goes on every way out.
bool PrepareSongData::loadMidiFile(SongObject& song, MidiReceiver* synthesizer) {
    const auto plain = cachedSong(song.playSongID.get());
    if (!plain) return false;
    const auto copy = File::getRootPath() / kCopyName;
    if (!File::writeToFileWithURL(copy, *plain)) {
        logText(kLogError, "Write file error, please check file to write or file path");
        return false;
    }
    const SongTiming timing(song.tempoMap.get(), song.isTempoMapEnable, song.playTempo, ticksPerQuarter(*plain));
    const std::atomic<bool> never{false};
    auto events = MidiSongReader::read(copy, *plain, timing, never);
    const bool deleted = File::deleteFileWithFilePath(copy);
    if (!events) {
        logText(kLogError, kNotCached);
        return false;
    }
    SongObject::Synthesizers synthesizers;
    for (const auto& [channel, instrument] : events->synthesizers) {
        synthesizers[channel] = PlayMidiMessage::initWithInstrument(synthesizer, song.volume, instrument);
    }
    preloadPrograms(events->groups, synthesizers);
    song.audioGraphCollection.set(std::move(synthesizers));
    auto groups = std::make_shared<const std::vector<MidiPlayList>>(std::move(events->groups));
    song.playStartIndex = MidiSongReader::getIndexFromMidi(*groups, song.playStartTime);
    song.playEndIndex = MidiSongReader::getIndexFromMidi(*groups, song.playEndTime);
    song.midiData.set(std::move(groups));
    if (!deleted) {
        logText(kLogError, "Delete file error, please check file path");
        return false;
    }
    return true;
}

void PrepareSongData::prepareCountOff(SongObject& song, const std::vector<std::string>& keys,
                                      const std::vector<double>& timesMs) {
    std::vector<std::shared_ptr<KeyvoraAudio>> sounds;
    if (keys.empty()) {
        sounds = planByService(song);
    } else {
        logText(kLogInfo, "Count-off is controlled by Webapp");
        sounds = generateCountOffSound(song.countOffSoundCollection.get(), keys);
        song.playNumberOfTicks = static_cast<std::int32_t>(sounds.size());
    }
    logText(kLogInfo, "Total count off sound: " + std::to_string(sounds.size()));
    song.countOff.set(CountOffPlan::of(sounds, timesMs, song.playTickSpacing));
    logText(kLogInfo, "Done prepare count off sound");
}

}  // namespace kv
