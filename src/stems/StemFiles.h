#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The names and contents of backing-track files in a song's cache folder: the name carries the
// instrument, the recorded tempo and a hash of the server's version token, so the folder is its
// own record.
namespace kv::stem_files {

// djb2 over the text's UTF-16 code units, 32 bits, as eight lowercase hexadecimal digits.
std::string versionHash(std::string_view text);
// "<instrument>_<tempo>_<hash>.mp3"
std::string fileName(std::int64_t instrument, std::int64_t tempo, std::string_view lastModified);
// The "_" fields of a name without its extension: the first is the instrument, the second the
// recorded tempo. Nothing when the field is not a number.
std::vector<std::string> fields(const std::filesystem::path& file);
std::int64_t instrumentOf(const std::filesystem::path& file);
// An ID3v2 tag or an MPEG audio frame sync at the start; false for a file that cannot be read.
bool hasMp3Header(const std::filesystem::path& file);
// "<root>/Cache/<songId>", the system's temporary folder standing in for an empty root.
std::filesystem::path songFolder(const std::filesystem::path& root, const std::string& songId);

}  // namespace kv::stem_files
