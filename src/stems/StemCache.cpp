#include "stems/StemCache.h"

#include <algorithm>
#include <vector>

namespace kv::stem_cache {

namespace fs = std::filesystem;

std::int64_t folderBytes(const fs::path& folder) {
    std::int64_t total = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError)) total += static_cast<std::int64_t>(it->file_size(sizeError));
    }
    return total;
}

void markUsed(const fs::path& songFolder) {
    std::error_code ignored;
    fs::last_write_time(songFolder, fs::file_time_type::clock::now(), ignored);
}

// The cache also holds the enciphered MIDI and score files, which are files: only folders are a
// song's stems.
void evictFor(const fs::path& kept, std::int64_t budget) {
    struct Song {
        fs::path folder;
        fs::file_time_type used;
        std::int64_t bytes;
    };
    std::vector<Song> songs;
    std::int64_t total = 0;
    std::error_code error;
    for (fs::directory_iterator it(kept.parent_path(), error), end; !error && it != end; it.increment(error)) {
        std::error_code entryError;
        if (!it->is_directory(entryError) || it->path() == kept) continue;
        songs.push_back({it->path(), fs::last_write_time(it->path(), entryError), folderBytes(it->path())});
        total += songs.back().bytes;
    }
    std::sort(songs.begin(), songs.end(), [](const Song& a, const Song& b) { return a.used < b.used; });
    for (const Song& song : songs) {
        if (total <= budget) return;
        std::error_code removeError;
        fs::remove_all(song.folder, removeError);
        if (!removeError) total -= song.bytes;
    }
}

}  // namespace kv::stem_cache
