#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kv {

// The user's settings of the application: a JSON object in a file, read when made and written
// whole (atomically) by synchronize().
class UserDefaults {
public:
    explicit UserDefaults(std::filesystem::path file);

    std::optional<std::int64_t> integerForKey(const std::string& key) const;
    void setInteger(const std::string& key, std::int64_t value);
    bool synchronize() const;

private:
    std::filesystem::path file_;
    nlohmann::json values_ = nlohmann::json::object();
};

}  // namespace kv
