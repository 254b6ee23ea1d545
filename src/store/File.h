#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kv {

// File utilities of the store. Failures go to the console and answer false or nothing.
class File {
public:
    // The store root, made with its parents when missing (a failure is logged; the path is
    // answered all the same).
    static std::filesystem::path getRootPath();
    // "<root>/<name>", made with missing parents; an existing folder is success.
    static std::optional<std::filesystem::path> createFolderWithName(const std::string& name);
    static bool isFileExistWithFilePath(const std::filesystem::path& path);
    // Removes the file, or the folder with everything in it.
    static bool deleteFileWithFilePath(const std::filesystem::path& path);
    static std::optional<std::vector<std::uint8_t>> readFromFileToDataWithURL(
        const std::filesystem::path& path);
    // Atomic: a temporary file in the same folder, synced, renamed over the target, the folder
    // synced. A crash leaves the old file or the new one, never a torn one.
    static bool writeToFileWithURL(const std::filesystem::path& path,
                                   std::span<const std::uint8_t> data);
};

}  // namespace kv
