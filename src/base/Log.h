#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <cstdio>
#include <mutex>
#include <source_location>
#include <string>
#include <string_view>

namespace kv {

enum LogLevel : int { kLogAppState = 1, kLogDebug = 2, kLogInfo = 3, kLogError = 4 };

// The rotating file log: logfile-0.log is written, logfile-1.log … the older files. Every line is
// echoed to the console. Writes and rotations are serialized, so lines never interleave. The
// current file stays open between lines, and each line reaches it before the call returns.
// The one process-wide object the service does not own: it has no thread, and lines may come
// until the process ends.
class Log {
public:
    static Log& shared();

    explicit Log(std::filesystem::path directory, int maxFileCount = 4,
                 std::uint64_t maxFileSize = 1024);

    // Never fails towards the caller: a line that cannot be written is dropped.
    void writeText(std::string_view text, int level);
    std::filesystem::path getDirectory() const;
    std::filesystem::path getCurrentPathAtIndex(int index) const;

    static std::string lognameWithNum(std::string_view base, int index);
    static std::string getLogLevelString(int level);
    static std::string getDateString();

private:
    bool openCurrent();
    void rotate();

    int maxFileCount_;
    std::filesystem::path directory_;
    std::string logFileName_ = "logfile";
    std::uint64_t maxFileSize_;  // KiB
    std::mutex mutex_;
    struct FileClose {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileClose> file_;  // logfile-0.log while open
    std::uint64_t size_ = 0;                      // its bytes
};

// Writes "<function>[line:<n>] <message>" to the shared log, the caller's convention.
void logText(int level, std::string_view message,
             std::source_location caller = std::source_location::current());

}  // namespace kv
