#pragma once

#include "app/StatusMenu.h"
#include "platform/desktop/AutostartEntry.h"
#include "platform/desktop/SingleInstanceLock.h"
#include "platform/desktop/UserDefaults.h"
#include "platform/desktop/tray/TrayIcon.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class Service;

struct AppOptions {
    bool headless = false;
    std::vector<std::string> arguments;  // as the process was started: a restart starts it so again
};

// The application around the service: start at login, one copy at a time, the tray menu and its
// actions, the launch and the stop.
class AppDelegate {
public:
    using Alert = TrayIcon::Alert;
    // Shows an alert; the index of the button pressed (0, the first, is "OK").
    using RunAlert = std::function<int(const Alert&)>;

    // Alerts go to the tray's dialogs unless `runAlert` stands in for them.
    explicit AppDelegate(AppOptions options, RunAlert runAlert = {});
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The launch, the service until Quit, SIGTERM or SIGINT, and the stop. The exit status.
    int run();

    // Launch step 1: the login item and `openAtLogin`.
    void registerLoginItem();
    // Launch step 2: false when another copy runs (it is told so, and nothing else is built).
    bool setupStatusBarMenu();

    // The menu's items, on the tray's thread.
    void perform(StatusMenu::Action action);
    const StatusMenu& menu() const { return *menu_; }

private:
    void openInBrowser(StatusMenu::Action action);
    void actionClear();
    void actionOpenLogs();
    void actionRestartApp();
    void actionQuitApp();
    void actionOpenAtLogin();
    void actionDiagnose();
    void switchOpenAtLogin();
    void launch(std::vector<std::string> arguments);
    void showSecondInstanceAlert() const;
    int alert(const Alert& alert);
    void switchLoginItemOffAndOn();
    void showMenuItem(std::size_t index);
    // The service's main queue once it runs, else here.
    void onMainQueue(std::function<void()> work);

    AppOptions options_;
    RunAlert runAlert_;
    UserDefaults defaults_;
    AutostartEntry loginItem_;
    std::unique_ptr<SingleInstanceLock> instanceLock_;
    std::unique_ptr<StatusMenu> menu_;
    std::unique_ptr<TrayIcon> tray_;
    std::atomic<Service*> service_{nullptr};
};

}  // namespace kv
