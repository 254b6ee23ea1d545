#pragma once

#include <filesystem>

namespace kv {

// The service's own data folder: $XDG_DATA_HOME/<bundle id>. Read afresh on every call so that
// a test can point XDG_DATA_HOME at a temporary folder.
std::filesystem::path storeRoot();

}  // namespace kv
