#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Programs of the desktop (browsers, the file browser) started apart from the service: in a
// session of their own, never its children, so that they outlive a restart or a quit.
namespace kv::launcher {

// The program's path in $PATH.
std::optional<std::filesystem::path> findProgram(std::string_view name);
// The first argument is the program's path. False when it could not be started.
bool launchDetached(const std::vector<std::string>& arguments);
// Runs the program (the first argument, a path) as a child and waits for it: what it printed on
// standard output, at most a megabyte; nothing when it could not be started.
std::optional<std::string> outputOf(const std::vector<std::string>& arguments);

}  // namespace kv::launcher
