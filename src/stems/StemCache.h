#pragma once

#include <cstdint>
#include <filesystem>

// The bound on what backing tracks take of the student's disk: each song's stems are a folder of
// the cache, and the folders used least recently go first.
namespace kv::stem_cache {

// Bytes of the files in a folder (its own, not its subfolders'); 0 when it cannot be read.
std::int64_t folderBytes(const std::filesystem::path& folder);
// The song's folder counts as used now.
void markUsed(const std::filesystem::path& songFolder);
// Removes song folders of the cache, least recently used first and never `kept`, until the others
// hold at most `budget` bytes.
void evictFor(const std::filesystem::path& kept, std::int64_t budget);

}  // namespace kv::stem_cache
