#pragma once

#include "audio/AudioEngine.h"
#include "audio/Mp3Decoder.h"
#include "base/SharedObject.h"
#include "core/BackingTracks.h"
#include "platform/dispatch/OnDemandQueue.h"
#include "platform/http/HttpTransfers.h"
#include "stems/StemFiller.h"
#include "stems/StemRenderer.h"

#include <boost/asio/any_io_executor.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <source_location>
#include <string>
#include <vector>

namespace kv {

// The one player of a song's backing tracks: decodes every stem of the song's cache folder, keeps
// the decoded audio of the current song, and plays the stems at the student's tempo, each from a
// sample-exact start on the engine's clock, through per-instrument gains and a master gain.
class StemsPlayer final : public BackingTracks {
public:
    // A stem longer than this is refused, and so are a song's stems above this many decoded bytes
    // together: a crafted file must not take the student's memory.
    static constexpr double kMaxStemSeconds = 20 * 60;
    static constexpr std::size_t kMaxDecodedBytes = std::size_t{2} * 1024 * 1024 * 1024;

    struct Error {
        std::string domain = "StemsPlayer";
        int code = -1;
        std::string description;
    };
    // Exactly once: at once for the cases settled without loading, otherwise on the loading thread.
    using Completion = std::function<void(std::optional<Error>)>;

    static StemsPlayer& shared() { return Shared<StemsPlayer>::get(); }

    // The stems' master mixer joins the engine's main mixer; the player's reports go to the main
    // queue, and its downloads through the transfers.
    StemsPlayer(AudioEngine& engine, boost::asio::any_io_executor mainQueue, HttpTransfers& transfers);
    ~StemsPlayer() override;
    StemsPlayer(const StemsPlayer&) = delete;
    StemsPlayer& operator=(const StemsPlayer&) = delete;

    AudioEngine& audioEngine() { return engine_; }

    void fetch(const nlohmann::json& audioFiles, const std::string& songId, Done done) override;
    void prepare(const std::string& songId, double tempo, Done done) override;
    void start(std::uint64_t hostTime, double startSeconds, double endSeconds, float volume) override;
    void end() override;

    void prepareWithSongId(const std::string& songId, double targetBPM, Completion completion);
    // The first sample of the segment (seconds of the song at the playing tempo; an end of 0 is
    // the end of the song) sounds at the host time, on the clock of the play's count-off and clicks.
    void playAtHostTime(std::uint64_t startHostTime, double startSeconds, double endSeconds);
    // On the main queue (re-queued there from elsewhere).
    void stop(std::source_location caller = std::source_location::current());
    void setVolumeForInstrumentId(float volume, std::int64_t instrumentId);
    void setMasterVolume(float volume);
    void invalidateCacheForSongId(const std::string& songId);

    bool isPlaying() const { return playing_; }
    bool isReady() const { return isReady_; }
    double duration() const { return duration_; }
    float stretchRate() const { return stretchRate_; }
    // Called with true when stop() ended a playback, false when its segment ran out.
    void setOnPlaybackFinished(std::function<void(bool stoppedByCaller)> handler);

private:
    using Decoded = std::shared_ptr<const DecodedAudio>;
    struct Track {
        Decoded buffer;
        std::int64_t instrumentId = 0;
    };
    // What a segment's end notice reaches: nothing once the player is gone.
    struct Life {
        std::mutex mutex;
        StemsPlayer* player = nullptr;
        std::uint64_t generation = 0;  // of the segment playing
    };

    static std::vector<std::filesystem::path> stemFiles(const std::filesystem::path& folder);
    void load(std::vector<std::filesystem::path> files, const std::string& songId, double targetBPM, Completion completion);
    std::optional<Error> decodeAll(const std::vector<std::filesystem::path>& files, std::vector<Track>& tracks, double& longest);
    void activate(std::vector<Track> tracks, const std::string& songId, double targetBPM, double longestSeconds);
    void tearDownStems();
    void startEngineIfNeeded();
    std::function<void()> endNotice();
    void segmentEnded();
    void onMain(std::function<void()> work);
    std::vector<std::shared_ptr<StemRenderer>> stems() const;

    AudioEngine& engine_;
    boost::asio::any_io_executor main_;
    HttpTransfers& transfers_;
    std::shared_ptr<MixerNode> master_ = std::make_shared<MixerNode>();
    std::atomic<bool> isReady_{false};
    std::atomic<bool> playing_{false};  // written on the main queue
    std::atomic<float> stretchRate_{1.0F};
    std::atomic<double> duration_{0};
    std::atomic<double> activeOriginalBPM_{0};

    mutable std::mutex mutex_;  // the loading lock: the caches, the song, the stems, the handler
    std::map<std::string, Decoded> rawPCMCache_;
    std::vector<Track> tracks_;
    std::vector<std::shared_ptr<StemRenderer>> stStems_;
    std::optional<std::string> activeSongId_;
    double activeBPM_ = 0;
    std::function<void(bool)> onPlaybackFinished_;

    std::shared_ptr<Life> life_ = std::make_shared<Life>();
    StemFiller filler_;
    OnDemandQueue loadQueue_{"StemsLoad"};  // last: its work reaches everything above
};

}  // namespace kv
