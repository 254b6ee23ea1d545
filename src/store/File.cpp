#include "store/File.h"

#include "base/Console.h"
#include "base/Log.h"
#include "base/StoreRoot.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kv {

namespace fs = std::filesystem;

namespace {

// Closes the descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closing can report a deferred write error, so the writer checks it.
    bool closeChecked() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data = data.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

bool syncFolder(const fs::path& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

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
    std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        writeFailed(std::strerror(errno));
        return false;
    }
    const bool written = writeAll(fd.get(), data) && ::fsync(fd.get()) == 0 && fd.closeChecked();
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        writeFailed(std::strerror(errno));
        ::unlink(temporary.c_str());
        return false;
    }
    syncFolder(path.parent_path());
    return true;
}

}  // namespace kv
