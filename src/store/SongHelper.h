#pragma once

#include "store/Database.h"
#include "store/Song.h"

#include <optional>
#include <string_view>

namespace kv {

class SongHelper {
public:
    explicit SongHelper(Database& database) : database_(database) {}

    std::optional<Song> getSongByID(std::string_view id) const;
    bool insertSong(Song& song) const;
    bool updateSong(Song& song) const;

private:
    Database& database_;
};

}  // namespace kv
