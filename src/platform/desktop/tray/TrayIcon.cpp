#include "platform/desktop/tray/TrayIcon.h"

#include "platform/dispatch/ThreadPriority.h"

#include <gtk/gtk.h>
// The menu's images use GtkImageMenuItem, deprecated in GTK 3 but the one item whose image the
// indicator's D-Bus menu carries.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <libayatana-appindicator/app-indicator.h>

#include <cstdlib>
#include <future>

namespace kv {

struct TrayIcon::Ui {
    Chosen chosen;
    AppIndicator* indicator = nullptr;
    GtkWidget* menu = nullptr;
    std::vector<GtkWidget*> items;
    std::vector<std::pair<TrayIcon::Ui*, std::size_t>> targets;  // what each item's signal reports
};

namespace {

bool hasGraphicalSession() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

void applyItem(GtkWidget* widget, const TrayMenuItem& item) {
    gtk_menu_item_set_label(GTK_MENU_ITEM(widget), item.title.c_str());
    if (GTK_IS_IMAGE_MENU_ITEM(widget)) {
        GtkWidget* image = item.image.empty() ? nullptr : gtk_image_new_from_file(item.image.c_str());
        gtk_image_menu_item_set_image(GTK_IMAGE_MENU_ITEM(widget), image);
        gtk_image_menu_item_set_always_show_image(GTK_IMAGE_MENU_ITEM(widget), image != nullptr);
    }
    gtk_widget_set_sensitive(widget, item.enabled);
}

GtkWidget* makeItem(const TrayMenuItem& item) {
    GtkWidget* widget = item.separator ? gtk_separator_menu_item_new() : gtk_image_menu_item_new_with_label(item.title.c_str());
    if (!item.separator) applyItem(widget, item);
    gtk_widget_show(widget);
    return widget;
}

void onActivate(GtkMenuItem*, gpointer target) {
    const auto& [ui, index] = *static_cast<std::pair<TrayIcon::Ui*, std::size_t>*>(target);
    if (ui->chosen) ui->chosen(index);
}

// A long text in a window of its own, which its Copy button puts on the clipboard.
int runReportDialog(const TrayIcon::Alert& alert) {
    constexpr gint kCopy = 1000;
    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), alert.title.c_str());
    gtk_window_set_default_size(GTK_WINDOW(dialog), 760, 560);
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(view), TRUE);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), alert.text.c_str(), -1);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), scrolled, TRUE, TRUE, 0);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "Copy", kCopy);
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        gtk_dialog_add_button(GTK_DIALOG(dialog), alert.buttons[i].c_str(), static_cast<gint>(i));
    }
    gtk_widget_show_all(dialog);
    gint response = kCopy;
    while ((response = gtk_dialog_run(GTK_DIALOG(dialog))) == kCopy) {
        gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), alert.text.c_str(), -1);
    }
    gtk_widget_destroy(dialog);
    return response >= 0 ? response : -1;
}

int runDialog(const TrayIcon::Alert& alert) {
    if (alert.report) return runReportDialog(alert);
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_NONE, "%s", alert.title.c_str());
    if (!alert.text.empty()) gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", alert.text.c_str());
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        gtk_dialog_add_button(GTK_DIALOG(dialog), alert.buttons[i].c_str(), static_cast<gint>(i));
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return response >= 0 ? response : -1;
}

}  // namespace

std::unique_ptr<TrayIcon> TrayIcon::start(const std::string& id, const std::string& title, const std::filesystem::path& icon,
                                          std::vector<TrayMenuItem> items, Chosen chosen) {
    if (!hasGraphicalSession()) return nullptr;
    auto tray = std::make_unique<TrayIcon>(Private{});
    tray->ui_ = std::make_unique<Ui>();
    tray->ui_->chosen = std::move(chosen);
    std::promise<bool> started;
    auto result = started.get_future();
    Ui* ui = tray->ui_.get();
    tray->thread_ = std::thread([ui, id, title, icon, items = std::move(items), &started] {
        nameCurrentThread("Tray");
        if (!gtk_init_check(nullptr, nullptr)) {
            started.set_value(false);
            return;
        }
        ui->menu = gtk_menu_new();
        ui->targets.reserve(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            GtkWidget* widget = makeItem(items[i]);
            ui->targets.emplace_back(ui, i);
            if (!items[i].separator) g_signal_connect(widget, "activate", G_CALLBACK(onActivate), &ui->targets.back());
            gtk_menu_shell_append(GTK_MENU_SHELL(ui->menu), widget);
            ui->items.push_back(widget);
        }
        ui->indicator = app_indicator_new(id.c_str(), icon.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
        app_indicator_set_title(ui->indicator, title.c_str());
        app_indicator_set_menu(ui->indicator, GTK_MENU(ui->menu));
        app_indicator_set_status(ui->indicator, APP_INDICATOR_STATUS_ACTIVE);
        started.set_value(true);
        gtk_main();
        g_object_unref(ui->indicator);
    });
    if (!result.get()) {
        tray->thread_.join();
        return nullptr;
    }
    return tray;
}

bool TrayIcon::runStandaloneAlert(const Alert& alert) {
    if (!hasGraphicalSession() || !gtk_init_check(nullptr, nullptr)) return false;
    runDialog(alert);
    return true;
}

TrayIcon::TrayIcon(Private) {}

TrayIcon::~TrayIcon() {
    g_idle_add(
        [](gpointer) -> gboolean {
            gtk_main_quit();
            return G_SOURCE_REMOVE;
        },
        nullptr);
    if (thread_.joinable()) thread_.join();
}

void TrayIcon::setItem(std::size_t index, TrayMenuItem item) {
    struct Change {
        Ui* ui;
        std::size_t index;
        TrayMenuItem item;
    };
    g_idle_add(
        [](gpointer data) -> gboolean {
            std::unique_ptr<Change> change(static_cast<Change*>(data));
            if (change->index < change->ui->items.size()) applyItem(change->ui->items[change->index], change->item);
            return G_SOURCE_REMOVE;
        },
        std::make_unique<Change>(Change{ui_.get(), index, std::move(item)}).release());
}

int TrayIcon::runAlert(const Alert& alert) {
    return runDialog(alert);
}

}  // namespace kv
