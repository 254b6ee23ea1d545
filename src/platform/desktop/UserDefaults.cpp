#include "platform/desktop/UserDefaults.h"

#include "platform/files/AtomicFile.h"

#include <fstream>

namespace kv {

// A file that is missing or not an object reads as no settings at all.
UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {
    std::ifstream stream(file_);
    if (!stream) return;
    auto parsed = nlohmann::json::parse(stream, nullptr, false);
    if (parsed.is_object()) values_ = std::move(parsed);
}

std::optional<std::int64_t> UserDefaults::integerForKey(const std::string& key) const {
    const auto found = values_.find(key);
    if (found == values_.end() || !found->is_number_integer()) return std::nullopt;
    return found->get<std::int64_t>();
}

void UserDefaults::setInteger(const std::string& key, std::int64_t value) {
    values_[key] = value;
}

bool UserDefaults::synchronize() const {
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    const std::string text = values_.dump(2) + "\n";
    std::string reason;
    return writeFileAtomically(file_, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, reason);
}

}  // namespace kv
