#include "platform/desktop/AutostartEntry.h"

#include "base/DataDirectories.h"
#include "platform/files/AtomicFile.h"

namespace kv {

AutostartEntry::AutostartEntry(std::string name, std::string title, std::filesystem::path executable)
    : name_(std::move(name)), title_(std::move(title)), executable_(std::move(executable)) {}

std::filesystem::path AutostartEntry::file() const {
    return xdgConfigHome() / "autostart" / (name_ + ".desktop");
}

bool AutostartEntry::isEnabled() const {
    std::error_code error;
    return std::filesystem::exists(file(), error);
}

bool AutostartEntry::setEnabled(bool enabled) const {
    std::error_code error;
    if (!enabled) {
        std::filesystem::remove(file(), error);
        return !error;
    }
    std::filesystem::create_directories(file().parent_path(), error);
    // Exec= takes the path quoted, so that one with blanks still starts.
    const std::string entry = "[Desktop Entry]\nType=Application\nName=" + title_ + "\nExec=\"" + executable_.string() +
                              "\"\nIcon=" + name_ + "\nTerminal=false\nNoDisplay=true\nX-GNOME-Autostart-enabled=true\n";
    std::string reason;
    return writeFileAtomically(file(), {reinterpret_cast<const std::uint8_t*>(entry.data()), entry.size()}, reason);
}

}  // namespace kv
