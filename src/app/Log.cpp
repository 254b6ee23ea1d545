#include "app/Log.h"

#include "app/Console.h"
#include "app/StoreRoot.h"

#include <ctime>
#include <fstream>
#include <iomanip>
#include <locale>
#include <sstream>

namespace kv {

namespace fs = std::filesystem;

namespace {

const std::locale& userLocale() {
    static const std::locale locale = [] {
        try {
            return std::locale("");
        } catch (const std::runtime_error&) {
            return std::locale::classic();
        }
    }();
    return locale;
}

// "void kv::SocketService::startServer(int)" → "SocketService::startServer"
std::string callerName(const std::source_location& caller) {
    std::string_view name = caller.function_name();
    name = name.substr(0, name.find('('));
    if (const auto space = name.rfind(' '); space != std::string_view::npos) {
        name.remove_prefix(space + 1);
    }
    if (name.starts_with("kv::")) name.remove_prefix(4);
    return std::string(name);
}

}  // namespace

Log& Log::shared() {
    static Log log(storeRoot() / "Logger");
    return log;
}

Log::Log(fs::path directory, int maxFileCount, std::uint64_t maxFileSize)
    : maxFileCount_(maxFileCount), directory_(std::move(directory)), maxFileSize_(maxFileSize) {}

fs::path Log::getDirectory() const {
    std::error_code ignored;
    fs::create_directories(directory_, ignored);
    return directory_;
}

std::string Log::lognameWithNum(std::string_view base, int index) {
    return std::string(base) + "-" + std::to_string(index) + ".log";
}

fs::path Log::getCurrentPathAtIndex(int index) const {
    return getDirectory() / lognameWithNum(logFileName_, index);
}

std::string Log::getLogLevelString(int level) {
    std::string mark;
    std::string name;
    switch (level) {
        case kLogAppState: mark = "🎹 "; name = "APPSTATE"; break;
        case kLogDebug: mark = "🟢 "; name = "DEBUG"; break;
        case kLogInfo: mark = "❤️ "; name = "INFO"; break;
        case kLogError: mark = "🚫 "; name = "ERROR"; break;
        default: break;
    }
    name.resize(10, ' ');
    return mark + name + "➯ ";
}

// The locale's own date and time forms, the nearest the C++ locale facilities come to a
// "medium" style.
std::string Log::getDateString() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::ostringstream text;
    text.imbue(userLocale());
    text << std::put_time(&local, "%x %X");
    return text.str();
}

void Log::writeText(std::string_view text, int level) {
    std::lock_guard lock(mutex_);
    const fs::path path = getCurrentPathAtIndex(0);
    std::ofstream file(path, std::ios::binary | std::ios::app);
    if (!file) return;
    std::string line = "[" + getDateString() + "]: " + getLogLevelString(level);
    line.append(text);
    file << line << '\n';
    file.close();
    consoleLine(line);
    cleanup();
}

void Log::cleanup() {
    std::error_code error;
    const auto size = fs::file_size(getCurrentPathAtIndex(0), error);
    if (error || size == 0 || size < maxFileSize_ * 1024 || maxFileCount_ < 1) return;
    renameAtIndex(0);
    fs::remove(getCurrentPathAtIndex(maxFileCount_), error);
}

void Log::renameAtIndex(int index) {
    std::error_code error;
    const fs::path next = getCurrentPathAtIndex(index + 1);
    if (fs::exists(next, error)) renameAtIndex(index + 1);
    fs::rename(getCurrentPathAtIndex(index), next, error);
}

void logText(int level, std::string_view message, std::source_location caller) {
    std::string text = callerName(caller) + "[line:" + std::to_string(caller.line()) + "] ";
    text.append(message);
    Log::shared().writeText(text, level);
}

}  // namespace kv
