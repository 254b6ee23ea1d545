#pragma once

#include <string>

namespace kv {

// The short version string, from the project version.
std::string getVersion();
// The build number: the commit count of the source tree.
std::string getBuild();

}  // namespace kv
