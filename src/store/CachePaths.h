#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

// Paths of the cache under the store root. The id and language come from requests: a part that
// fails isSafePathComponent gives no path, so no file outside the cache is ever named.
namespace kv {

// "<root>/Cache/<id>_Protected": one cached MIDI file.
std::optional<std::filesystem::path> getMidiCacheFolderPathWithSongID(std::string_view id);
// The same, after making sure the cache folder exists.
std::optional<std::filesystem::path> createMidiCacheFolderPathWithSongID(std::string_view id);
// "<root>/Cache/<id>_Protected_<lang>": one cached score in one language.
std::optional<std::filesystem::path> getXMLCacheFolderPathWithSongID(std::string_view id,
                                                                    std::string_view lang);
std::optional<std::filesystem::path> createXMLCacheFolderPathWithSongID(std::string_view id,
                                                                       std::string_view lang);
// Removes the cache folder with every cached file and backing track; false when it was absent.
bool clearCache();
// "$XDG_DATA_HOME/Keyvora/cert": the certificate folder, beside the store root.
std::filesystem::path getCertificateFolderPath();

}  // namespace kv
