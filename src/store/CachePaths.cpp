#include "store/CachePaths.h"

#include "base/DataDirectories.h"
#include "store/File.h"
#include "store/PathComponent.h"

#include <string>

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCacheFolder = "Cache";

std::optional<std::string> midiFileName(std::string_view id) {
    if (!isSafePathComponent(id)) return std::nullopt;
    return std::string(id) + "_Protected";
}

std::optional<std::string> scoreFileName(std::string_view id, std::string_view lang) {
    if (!isSafePathComponent(id) || !isSafePathComponent(lang)) return std::nullopt;
    return std::string(id) + "_Protected_" + std::string(lang);
}

std::optional<fs::path> inCache(const std::optional<std::string>& name) {
    if (!name) return std::nullopt;
    return File::getRootPath() / kCacheFolder / *name;
}

std::optional<fs::path> inCreatedCache(const std::optional<std::string>& name) {
    if (!name) return std::nullopt;
    const auto folder = File::createFolderWithName(kCacheFolder);
    if (!folder) return std::nullopt;
    return *folder / *name;
}

}  // namespace

std::optional<fs::path> getMidiCacheFolderPathWithSongID(std::string_view id) {
    return inCache(midiFileName(id));
}

std::optional<fs::path> createMidiCacheFolderPathWithSongID(std::string_view id) {
    return inCreatedCache(midiFileName(id));
}

std::optional<fs::path> getXMLCacheFolderPathWithSongID(std::string_view id, std::string_view lang) {
    return inCache(scoreFileName(id, lang));
}

std::optional<fs::path> createXMLCacheFolderPathWithSongID(std::string_view id,
                                                          std::string_view lang) {
    return inCreatedCache(scoreFileName(id, lang));
}

bool clearCache() {
    return File::deleteFileWithFilePath(File::getRootPath() / kCacheFolder);
}

fs::path getCertificateFolderPath() {
    return xdgDataHome() / "Keyvora" / "cert";
}

}  // namespace kv
