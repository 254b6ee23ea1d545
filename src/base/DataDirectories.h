#pragma once

#include <filesystem>

namespace kv {

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::filesystem::path xdgDataHome();
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::filesystem::path xdgConfigHome();
// $XDG_RUNTIME_DIR when it is an absolute path, else the system's temporary folder.
std::filesystem::path xdgRuntimeDir();

}  // namespace kv
