#include "app/AppDelegate.h"

#include "app/Service.h"
#include "base/DataDirectories.h"
#include "base/Log.h"
#include "kvplugin/BuildInfo.h"
#include "platform/desktop/Launcher.h"
#include "platform/desktop/Resources.h"
#include "platform/files/Descriptors.h"
#include "store/File.h"

#include <unistd.h>

#include <cstdio>

namespace kv {

namespace {

constexpr const char* kOpenAtLogin = "openAtLogin";
constexpr int kOk = 0;

struct Browser {
    std::vector<const char*> programs;  // the first one found opens the dashboard
    const char* notInstalled;
};

Browser browserFor(StatusMenu::Action action) {
    switch (action) {
        case StatusMenu::Action::openInChrome:
            return {{"google-chrome", "google-chrome-stable", "chromium"},
                    "You can't open the application \"Google Chrome\" or \"Chromium\" because it is not installed."};
        case StatusMenu::Action::openInFirefox:
            return {{"firefox", "firefox-esr"}, "You can't open the application \"FireFox\" because it isn't installed."};
        default:
            return {{"xdg-open"}, "You can't open the application \"xdg-open\" (the default browser) because it is not installed."};
    }
}

std::filesystem::path ownExecutable() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path("kvplugin") : executable;
}

std::filesystem::path iconPath(const std::string& name) {
    return name.empty() ? std::filesystem::path() : resourcePath("icons/" + name + ".png");
}

}  // namespace

AppDelegate::AppDelegate(AppOptions options, RunAlert runAlert)
    : options_(std::move(options)),
      runAlert_(std::move(runAlert)),
      defaults_(xdgConfigHome() / "kvplugin" / "defaults.json"),
      loginItem_("kvplugin", "KVPlugin", ownExecutable()) {}

AppDelegate::~AppDelegate() = default;

int AppDelegate::run() {
    registerLoginItem();
    if (!setupStatusBarMenu()) return 1;
    Service service;
    service_ = &service;
    service.run();
    service_ = nullptr;
    tray_.reset();
    return 0;
}

// The login item is switched off and on again at every launch while the setting is on, so that
// it starts this very executable.
void AppDelegate::registerLoginItem() {
    const auto openAtLogin = defaults_.integerForKey(kOpenAtLogin);
    if (openAtLogin && *openAtLogin == 0) return;
    logText(kLogInfo, "In the first time open app");
    switchLoginItemOffAndOn();
    defaults_.setInteger(kOpenAtLogin, 1);
    defaults_.synchronize();
}

void AppDelegate::switchLoginItemOffAndOn() {
    loginItem_.setEnabled(false);
    loginItem_.setEnabled(true);
}

bool AppDelegate::setupStatusBarMenu() {
    instanceLock_ = std::make_unique<SingleInstanceLock>(xdgRuntimeDir() / "kvplugin.lock");
    if (!instanceLock_->acquired()) {
        showSecondInstanceAlert();
        return false;
    }
    if (menu_) return true;
    menu_ = std::make_unique<StatusMenu>(defaults_.integerForKey(kOpenAtLogin).value_or(1) != 0);
    if (options_.headless) return true;
    std::vector<TrayMenuItem> items;
    for (const auto& item : menu_->items()) {
        items.push_back({item.title, iconPath(item.image), item.separator, item.action != StatusMenu::Action::none});
    }
    tray_ = TrayIcon::start("kvplugin", StatusMenu::kTitle, iconPath(StatusMenu::kIcon), std::move(items),
                            [this](std::size_t index) { perform(menu_->items().at(index).action); });
    return true;
}

// Before the store is opened or a port is taken: the copy that runs keeps them.
void AppDelegate::showSecondInstanceAlert() const {
    const Alert alert{"Can't run the application", "An item named \"KVPlugin\" already exists. Please quit and run again", {"OK"}};
    if (!options_.headless && TrayIcon::runStandaloneAlert(alert)) return;
    std::fprintf(stderr, "%s\n%s\n", alert.title.c_str(), alert.text.c_str());
}

void AppDelegate::perform(StatusMenu::Action action) {
    switch (action) {
        case StatusMenu::Action::openInBrowser:
        case StatusMenu::Action::openInChrome:
        case StatusMenu::Action::openInFirefox: return openInBrowser(action);
        case StatusMenu::Action::clear: return actionClear();
        case StatusMenu::Action::openLogs: return actionOpenLogs();
        case StatusMenu::Action::restart: return actionRestartApp();
        case StatusMenu::Action::quit: return actionQuitApp();
        case StatusMenu::Action::openAtLogin: return actionOpenAtLogin();
        case StatusMenu::Action::diagnose: return actionDiagnose();
        case StatusMenu::Action::none: return;
    }
}

void AppDelegate::openInBrowser(StatusMenu::Action action) {
    const Browser browser = browserFor(action);
    for (const char* program : browser.programs) {
        if (const auto path = launcher::findProgram(program)) return launch({path->string(), build::kDashboardUrl});
    }
    alert({"Error", browser.notInstalled, {"OK"}});
}

// A copy of the executable writes the diagnosis: it sees this service as any other program would,
// and a hang of a sound library there cannot stop the service.
void AppDelegate::actionDiagnose() {
    const auto text = launcher::outputOf({ownExecutable().string(), "--doctor"});
    alert({"KVPlugin diagnosis", text.value_or("The diagnosis could not be run."), {"Close"}, true});
}

void AppDelegate::launch(std::vector<std::string> arguments) {
    onMainQueue([arguments = std::move(arguments)] {
        if (!launcher::launchDetached(arguments)) logText(kLogError, "Cannot start " + arguments.front());
    });
}

void AppDelegate::actionClear() {
    if (alert({"Are you sure you want to clear all cache data on your computer?", "You can't undo this action.", {"OK", "Cancel"}}) != kOk) {
        return;
    }
    // On the main queue, between two flows: never under a cache save.
    onMainQueue([] {
        if (!File::deleteFileWithFilePath(File::getRootPath() / "Cache")) logText(kLogInfo, "Folder cache don't exist");
    });
}

// A menu choice asks on the tray's thread and acts on the main queue, between two flows: a
// restart never cuts a save short, a setting is never written by two threads.
void AppDelegate::onMainQueue(std::function<void()> work) {
    if (Service* service = service_.load()) return service->mainQueue().async(std::move(work));
    work();
}

void AppDelegate::actionOpenLogs() {
    if (const auto open = launcher::findProgram("xdg-open")) launch({open->string(), (File::getRootPath() / "Logger").string()});
}

// The same executable with the same arguments, at once: the listening sockets and the instance
// lock close on the exec, so the new image takes them back.
void AppDelegate::actionRestartApp() {
    if (alert({"Do you really want to restart?", "", {"OK", "Cancel"}}) != kOk) return;
    onMainQueue([arguments = options_.arguments]() mutable {
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        closeAllOnExec();
        ::execv("/proc/self/exe", argv.data());
        logText(kLogError, "Restart failed");
    });
}

void AppDelegate::actionQuitApp() {
    if (alert({"Do you really want to quit \"KVPlugin\"?", "", {"OK", "Cancel"}}) != kOk) return;
    logText(kLogInfo, "exit Application");
    onMainQueue([this] {
        if (Service* service = service_.load()) service->quit();
    });
}

void AppDelegate::actionOpenAtLogin() {
    onMainQueue([this] { switchOpenAtLogin(); });
}

void AppDelegate::switchOpenAtLogin() {
    const bool on = !menu_->isOpenAtLoginOn();
    menu_->setOpenAtLogin(on);
    showMenuItem(StatusMenu::kOpenAtLoginIndex);
    if (on) {
        switchLoginItemOffAndOn();
    } else {
        loginItem_.setEnabled(false);
    }
    defaults_.setInteger(kOpenAtLogin, on ? 1 : 0);
    defaults_.synchronize();
}

void AppDelegate::showMenuItem(std::size_t index) {
    if (!tray_) return;
    const auto& item = menu_->items()[index];
    tray_->setItem(index, {item.title, iconPath(item.image), item.separator, item.action != StatusMenu::Action::none});
}

int AppDelegate::alert(const Alert& alert) {
    if (runAlert_) return runAlert_(alert);
    return tray_ ? tray_->runAlert(alert) : -1;
}

}  // namespace kv
