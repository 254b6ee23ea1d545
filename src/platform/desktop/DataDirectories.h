#pragma once

#include <filesystem>

namespace kv {

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::filesystem::path xdgDataHome();

}  // namespace kv
