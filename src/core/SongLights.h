#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>

namespace kv {

// What a play asks of the key lights: the song's plan while it is prepared, lit on the play's
// clock from the song's start, and dark at its end.
class SongLights {
public:
    virtual ~SongLights() = default;
    // The request's `ledNotes`, in song milliseconds; the play starts at playStartTimeMs.
    virtual void parseAndSetPlanFromJson(const nlohmann::json& ledNotes, double playStartTimeMs) = 0;
    // Plan time 0 falls on the host time.
    virtual void startAtHostTime(std::uint64_t start) = 0;
    virtual void stop() = 0;
};

}  // namespace kv
