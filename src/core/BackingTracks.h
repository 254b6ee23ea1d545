#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kv {

// What a play asks of a song's backing tracks: fetched and made ready at the playing tempo while
// the song is prepared, started on the play's clock, ended with it.
class BackingTracks {
public:
    // Exactly once, on any thread: nothing, or why the step failed.
    using Done = std::function<void(std::optional<std::string> failure)>;

    virtual ~BackingTracks() = default;
    // The request's `audioFiles` into the song's cache.
    virtual void fetch(const nlohmann::json& audioFiles, const std::string& songId, Done done) = 0;
    // The song's fetched tracks decoded and stretched to the tempo.
    virtual void prepare(const std::string& songId, double tempo, Done done) = 0;
    // The segment (seconds of the song at the playing tempo; an end of 0 is the song's end) sounds
    // from the host time, at the volume (0 … 1).
    virtual void start(std::uint64_t hostTime, double startSeconds, double endSeconds, float volume) = 0;
    // Nothing when nothing plays.
    virtual void end() = 0;
};

}  // namespace kv
