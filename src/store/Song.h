#pragma once

#include "store/RecordColumn.h"

#include <cstdint>
#include <string>
#include <tuple>

namespace kv {

// A song whose MIDI file is cached; Id is the song's id in the web application.
struct Song {
    std::int64_t Id = 0;
    std::string lastModifiedDate;

    static constexpr const char* kTable = "Song";
    static constexpr bool kIdFromCaller = true;
    static constexpr auto columns() {
        return std::make_tuple(column("lastModifiedDate", &Song::lastModifiedDate));
    }
};

}  // namespace kv
