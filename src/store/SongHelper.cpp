#include "store/SongHelper.h"

#include "base/Log.h"
#include "store/RecordTable.h"

namespace kv {

std::optional<Song> SongHelper::getSongByID(std::string_view id) const {
    return RecordTable<Song>::first(database_, Condition().id("Id", id));
}

bool SongHelper::insertSong(Song& song) const {
    const bool saved = RecordTable<Song>::commit(database_, song);
    if (!saved) logText(kLogError, "insert song fail");
    return saved;
}

bool SongHelper::updateSong(Song& song) const {
    const bool saved = RecordTable<Song>::commit(database_, song);
    logText(saved ? kLogDebug : kLogError, saved ? "update song success" : "update song fail");
    return saved;
}

}  // namespace kv
