#include "store/File.h"

#include "base/Console.h"
#include "base/Log.h"
#include "base/StoreRoot.h"
#include "platform/files/AtomicFile.h"

#include <fstream>
#include <iterator>

namespace kv {

namespace fs = std::filesystem;

namespace {

void writeFailed(const std::string& reason) {
    consoleLine("writeToFileWithURL is fail with error: " + reason);
}

}  // namespace

fs::path File::getRootPath() {
    const fs::path root = storeRoot();
    std::error_code error;
    if (!fs::exists(root, error)) {
        fs::create_directories(root, error);
        if (error) logText(kLogError, error.message());
    }
    return root;
}

std::optional<fs::path> File::createFolderWithName(const std::string& name) {
    const fs::path folder = getRootPath() / fs::path(name).relative_path();
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder)) {
        consoleLine("createFolderWithName is fail with error: " +
                    (error ? error.message() : std::string("not a folder")));
        return std::nullopt;
    }
    return folder;
}

bool File::isFileExistWithFilePath(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

bool File::deleteFileWithFilePath(const fs::path& path) {
    std::error_code error;
    const auto removed = fs::remove_all(fs::path("/") / path.relative_path(), error);
    if (error || removed == 0) {
        consoleLine("deleteFileWithFileName is fail with error: " +
                    (error ? error.message() : std::string("no such file or folder")));
        return false;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> File::readFromFileToDataWithURL(const fs::path& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return std::nullopt;
    const std::streamoff size = file.tellg();
    if (size < 0) return std::nullopt;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(data.data()), size)) return std::nullopt;
    return data;
}

bool File::writeToFileWithURL(const fs::path& path, std::span<const std::uint8_t> data) {
    std::string reason;
    if (writeFileAtomically(path, data, reason)) return true;
    writeFailed(reason);
    return false;
}

}  // namespace kv
