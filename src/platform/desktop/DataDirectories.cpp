#include "platform/desktop/DataDirectories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace kv {

namespace {
std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return std::filesystem::temp_directory_path();
}
}  // namespace

std::filesystem::path xdgDataHome() {
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome && *dataHome) {
        std::filesystem::path path(dataHome);
        if (path.is_absolute()) return path;
    }
    return homeDirectory() / ".local" / "share";
}

}  // namespace kv
