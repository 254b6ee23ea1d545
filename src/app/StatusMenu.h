#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kv {

// The tray menu as a model: titles, images, the start-at-login item's state and what each item
// does. The tray shows it; tests drive it without a desktop.
class StatusMenu {
public:
    enum class Action { openInBrowser, openInChrome, openInFirefox, clear, openLogs, restart, quit, openAtLogin, diagnose, none };
    struct Item {
        std::string title;
        std::string image;  // an icon's name; none when empty
        bool separator = false;
        Action action = Action::none;
    };
    static constexpr const char* kTitle = "Keyvora";
    static constexpr const char* kIcon = "keyvora_ic";
    static constexpr std::size_t kOpenAtLoginIndex = 8;

    explicit StatusMenu(bool openAtLogin);

    const std::vector<Item>& items() const { return items_; }
    // Read from the item itself: on exactly when it shows its image.
    bool isOpenAtLoginOn() const;
    void setOpenAtLogin(bool on);

private:
    std::vector<Item> items_;
};

}  // namespace kv
