#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace kv {

// Writes the whole file or nothing: a temporary file beside it, synced, renamed over it, and the
// folder synced. Why it failed goes to `reason`.
bool writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> data, std::string& reason);

}  // namespace kv
