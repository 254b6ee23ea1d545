#pragma once

#include <filesystem>
#include <string_view>

namespace kv {

// Where the shipped assets are: "resources" beside the executable or one folder up (the build
// tree), else "share/kvplugin/resources" under the install prefix.
std::filesystem::path resourcesFolder();
std::filesystem::path resourcePath(std::string_view name);

}  // namespace kv
