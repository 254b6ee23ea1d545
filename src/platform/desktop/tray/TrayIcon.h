#pragma once

#include "platform/desktop/tray/TrayMenuItem.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kv {

// A StatusNotifierItem with its menu (libayatana-appindicator, GTK 3) on a UI thread of its own.
// Menu choices are reported on that thread; the dialogs they open block it and nothing else.
class TrayIcon {
public:
    using Chosen = std::function<void(std::size_t index)>;
    struct Alert {
        std::string title;
        std::string text;
        std::vector<std::string> buttons;  // the first is the default
        bool report = false;  // a long text in a window of its own, with a button that copies it
    };

    // Nothing when there is no graphical session or GTK does not start: the caller runs headless.
    static std::unique_ptr<TrayIcon> start(const std::string& id, const std::string& title, const std::filesystem::path& icon,
                                           std::vector<TrayMenuItem> items, Chosen chosen);
    // Without a tray (a second copy of the service): the dialog on the calling thread. False when
    // no graphical session is there to show it.
    static bool runStandaloneAlert(const Alert& alert);

    struct Private {};
    explicit TrayIcon(Private);
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Any thread.
    void setItem(std::size_t index, TrayMenuItem item);
    // On the UI thread (from a menu choice): a modal dialog; the index of the button pressed, or
    // -1 when it was closed otherwise.
    int runAlert(const Alert& alert);

    struct Ui;  // the GTK side

private:
    std::unique_ptr<Ui> ui_;
    std::thread thread_;
};

}  // namespace kv
