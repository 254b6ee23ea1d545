#include "app/StatusMenu.h"

#include "base/TextFormat.h"
#include "kvplugin/BuildInfo.h"

namespace kv {

StatusMenu::StatusMenu(bool openAtLogin) {
    items_ = {
        {"  Open in Browser\t\t", "browser-small", false, Action::openInBrowser},
        {"  Open in Chrome\t\t", "chrome-small", false, Action::openInChrome},
        {"  Open in Firefox", "firefox-small", false, Action::openInFirefox},
        {"\tClear Cache", "", false, Action::clear},
        {"\tOpen Logs", "", false, Action::openLogs},
        {"\tRestart", "", false, Action::restart},
        {"\tQuit", "", false, Action::quit},
        {"", "", true, Action::none},
        {"", "", false, Action::openAtLogin},
        {"\tDiagnose Sound and Keyboards", "", false, Action::diagnose},
        {"", "", true, Action::none},
        {formatText("\tVersion: %s - Build: %s", build::kVersion, build::kBuildNumber), "", false, Action::none},
    };
    setOpenAtLogin(openAtLogin);
}

bool StatusMenu::isOpenAtLoginOn() const {
    return !items_[kOpenAtLoginIndex].image.empty();
}

void StatusMenu::setOpenAtLogin(bool on) {
    Item& item = items_[kOpenAtLoginIndex];
    item.title = on ? "  Automatically start KeyvoraPlugin" : "\tAutomatically start KeyvoraPlugin";
    item.image = on ? "check_small" : "";
}

}  // namespace kv
