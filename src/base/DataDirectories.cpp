#include "base/DataDirectories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

namespace kv {

namespace {
std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return std::filesystem::temp_directory_path();
}

std::optional<std::filesystem::path> absoluteFromEnvironment(const char* name) {
    if (const char* value = std::getenv(name); value && *value) {
        std::filesystem::path path(value);
        if (path.is_absolute()) return path;
    }
    return std::nullopt;
}
}  // namespace

std::filesystem::path xdgDataHome() {
    return absoluteFromEnvironment("XDG_DATA_HOME").value_or(homeDirectory() / ".local" / "share");
}

std::filesystem::path xdgConfigHome() {
    return absoluteFromEnvironment("XDG_CONFIG_HOME").value_or(homeDirectory() / ".config");
}

std::filesystem::path xdgRuntimeDir() {
    return absoluteFromEnvironment("XDG_RUNTIME_DIR").value_or(std::filesystem::temp_directory_path());
}

}  // namespace kv
