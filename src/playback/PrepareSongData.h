#pragma once

#include "audio/MidiReceiver.h"
#include "core/BackingTracks.h"
#include "core/BaseRequestJSONObject.h"
#include "core/SongLights.h"

#include <boost/asio/any_io_executor.hpp>
#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class SongObject;

// Turns a prepare request into the song record: the previous song goes, the settings, the light
// plan and the count-off are taken, and a MIDI song's cached file is read into timed groups, or a
// stem song's stems are downloaded and decoded in the background.
class PrepareSongData : public std::enable_shared_from_this<PrepareSongData> {
public:
    // {code, message, duration}: 0 and "PREPARE DATA SUCCESS", or -1 and why. Called once, on the
    // main queue.
    using Completion = std::function<void(nlohmann::json result)>;

    // The record filled in, what sounds its notes (none: they are dropped), and what a song shows
    // and sounds besides them.
    struct Parts {
        SongObject& song;
        MidiReceiver* synthesizer;
        SongLights& lights;
        BackingTracks& tracks;
    };

    PrepareSongData(BaseRequestJSONObject request, boost::asio::any_io_executor mainQueue, Parts parts)
        : jsonRequest_(std::move(request)), main_(std::move(mainQueue)), song_(parts.song),
          synthesizer_(parts.synthesizer), lights_(parts.lights), tracks_(parts.tracks) {}

    // On the main queue; completes at once for a MIDI song.
    void execute(Completion completion);

    static void resetSongObject(SongObject& song);
    // The cached MIDI file of the song into the record's groups and range, its channels to be
    // sounded by the synthesizer. False, logged, when it is not cached or cannot be read.
    static bool loadMidiFile(SongObject& song, MidiReceiver* synthesizer);
    // The count-off: the web application's list of sound keys, or, without one, the service's own
    // plan from the meter, the start beat, the start position and the tempo; with the spacings the
    // web application gave for each tick.
    static void prepareCountOff(SongObject& song, const std::vector<std::string>& keys,
                                const std::vector<double>& timesMs = {});

private:
    void prepareStems();
    void complete(nlohmann::json result);
    nlohmann::json prepared() const;

    BaseRequestJSONObject jsonRequest_;
    boost::asio::any_io_executor main_;
    SongObject& song_;
    MidiReceiver* synthesizer_;
    SongLights& lights_;
    BackingTracks& tracks_;
    Completion completion_;
};

}  // namespace kv
