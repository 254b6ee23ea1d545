#pragma once

#include "store/Song.h"

#include <optional>
#include <string_view>

namespace kv {

class SongHelper {
public:
    static std::optional<Song> getSongByID(std::string_view id);
    static bool insertSong(Song& song);
    static bool updateSong(Song& song);
};

}  // namespace kv
