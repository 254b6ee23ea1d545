#pragma once

#include <filesystem>
#include <string>

namespace kv {

// One entry of a tray menu as the desktop shows it.
struct TrayMenuItem {
    std::string title;
    std::filesystem::path image;  // none when empty
    bool separator = false;
    bool enabled = true;
};

}  // namespace kv
