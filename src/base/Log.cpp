#include "base/Log.h"

#include "base/Console.h"
#include "base/StoreRoot.h"

#include <ctime>
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
    std::string scoped(name);
    for (const std::string_view scope : {"kv::", "{anonymous}::"}) {
        for (auto at = scoped.find(scope); at != std::string::npos; at = scoped.find(scope)) scoped.erase(at, scope.size());
    }
    return scoped;
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
    if (!file_ && !openCurrent()) return;
    std::string line = "[" + getDateString() + "]: " + getLogLevelString(level);
    line.append(text);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), file_.get());
    std::fflush(file_.get());
    size_ += line.size();
    line.pop_back();
    consoleLine(line);
    if (size_ > 0 && size_ >= maxFileSize_ * 1024 && maxFileCount_ >= 1) rotate();
}

bool Log::openCurrent() {
    const fs::path path = getCurrentPathAtIndex(0);
    // Closed on exec: a browser opened from the tray must not hold the log.
    file_.reset(std::fopen(path.c_str(), "abe"));
    if (!file_) return false;
    std::error_code error;
    size_ = fs::file_size(path, error);
    if (error) size_ = 0;
    return true;
}

// Shifts each file one index up (logfile-0 to -1, …) as far as they run without a gap, and
// drops the one past the kept count; the next line starts logfile-0.log anew.
void Log::rotate() {
    file_.reset();
    std::error_code error;
    int last = 0;
    while (last < maxFileCount_ && fs::exists(getCurrentPathAtIndex(last + 1), error)) ++last;
    for (int index = last; index >= 0; --index) {
        fs::rename(getCurrentPathAtIndex(index), getCurrentPathAtIndex(index + 1), error);
    }
    fs::remove(getCurrentPathAtIndex(maxFileCount_), error);
}

void logText(int level, std::string_view message, std::source_location caller) {
    std::string text = callerName(caller) + "[line:" + std::to_string(caller.line()) + "] ";
    text.append(message);
    Log::shared().writeText(text, level);
}

}  // namespace kv
