#include "playback/flows/StopPlayMidiFlow.h"

#include "base/Console.h"
#include "base/Log.h"
#include "core/KeyvoraFlow.h"
#include "leds/KVLedScheduler.h"
#include "playback/Metronome.h"
#include "playback/PlaySongLogic.h"
#include "playback/SongObject.h"
#include "stems/StemsPlayer.h"

#include <thread>

namespace kv {

namespace {

nlohmann::json playedKeys() {
    nlohmann::json eventList = nlohmann::json::array();
    for (const auto& event : KeyvoraFlow::shared().listMidiEvents.takeAll()) {
        eventList.push_back({{"noteList", {{{"pitch", event.pitch}, {"octave", event.octave}}}}, {"time", event.pressTime}});
    }
    return eventList;
}

// Waits, polling as the web application expects, for the play to end its count-off and its song.
void waitForThePlayToEnd() {
    auto& song = SongObject::shared();
    song.isWaitingStopPlaySong = true;
    PlaySongLogic::wakePlays();
    for (int turn = 0; turn < 31; ++turn) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!song.isPlayCountOff && song.isStopPlaySong) {
            song.isWaitingStopPlaySong = false;
            return;
        }
        logText(kLogDebug, "Stop playing piano... wait stop");
    }
}

}  // namespace

// With nothing playing (no play since launch or since the last stop) there is nothing to wait
// for: the answer comes at once and no stop is left waiting for the next play.
nlohmann::json StopPlayMidiFlow::processData(const nlohmann::json&, const std::string&, const BaseRequestJSONObject&) {
    auto& session = KeyvoraFlow::shared();
    auto& song = SongObject::shared();
    if (song.isWaitingStopPlaySong) return {{"message", "Waiting to stop play song."}, {"code", -1}};
    Metronome::shared().stop();
    KVLedScheduler::shared().stop();
    const bool playing = session.APP_STATE == KeyvoraFlow::kCountOff || session.APP_STATE == KeyvoraFlow::kSongPlaying;
    if (playing) {
        if (song.isAudio) {
            StemsPlayer::shared().stop();  // its finish handler stops the song
            consoleLine("[StemsPlayer shared] StopPlayMidiFlow stop");
        } else {
            waitForThePlayToEnd();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    logText(kLogDebug, "Stop playing piano...");
    session.APP_STATE = KeyvoraFlow::kIdle;
    session.isStopMusic = true;
    session.isStopPrepare = true;
    PlaySongLogic::wakePlays();
    return {{"eventList", playedKeys()}, {"message", "SUCCESS"}, {"code", 0}};
}

}  // namespace kv
