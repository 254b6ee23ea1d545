#pragma once

#include <filesystem>
#include <string>

namespace kv {

// The desktop's start-at-login switch for one program: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/<name>.desktop) that runs it at login.
class AutostartEntry {
public:
    AutostartEntry(std::string name, std::string title, std::filesystem::path executable);

    bool isEnabled() const;
    // On writes the entry afresh (with the executable as it is now); off removes it.
    bool setEnabled(bool enabled) const;
    std::filesystem::path file() const;

private:
    std::string name_;
    std::string title_;
    std::filesystem::path executable_;
};

}  // namespace kv
