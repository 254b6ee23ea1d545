#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// One backing track as a song's stem list names it.
struct StemEntry {
    std::int64_t index = 0;
    std::int64_t instrumentId = 0;
    std::int64_t tempo = 0;
    std::string instrumentName;
    std::string lastModified;
    std::string link;
};

// The stem list a prepare request carries, read leniently: an entry without a positive
// instrument and tempo, an http(s) link or a version token is left out, with a warning.
struct StemList {
    // A song has a stem per instrument; a list from a request could name thousands.
    static constexpr std::size_t kMaxStems = 64;

    std::vector<StemEntry> entries;  // in list order
    std::vector<std::string> warnings;

    static StemList parse(const nlohmann::json& list);
};

}  // namespace kv
