#pragma once

#include "store/RecordColumn.h"

#include <cstdint>
#include <string>
#include <tuple>

namespace kv {

// One practice segment, kept as the browser sent it.
struct PracticeMinutes {
    std::int64_t Id = 0;
    std::string clientID;
    std::string songID;
    std::string seconds;
    std::string rednote;
    std::string predict;
    std::string tempo;
    std::string startMeasure;
    std::string startTick;
    std::string endMeasure;
    std::string endTick;
    std::int32_t timestamp = 0;  // seconds since 1970, UTC

    static constexpr const char* kTable = "PracticeMinutes";
    static constexpr bool kIdFromCaller = false;
    static constexpr auto columns() {
        using P = PracticeMinutes;
        return std::make_tuple(column("clientID", &P::clientID), column("songID", &P::songID),
                               column("seconds", &P::seconds), column("rednote", &P::rednote),
                               column("predict", &P::predict), column("tempo", &P::tempo),
                               column("startMeasure", &P::startMeasure),
                               column("startTick", &P::startTick),
                               column("endMeasure", &P::endMeasure), column("endTick", &P::endTick),
                               column("timestamp", &P::timestamp));
    }
};

}  // namespace kv
