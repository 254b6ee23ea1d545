#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "platform/desktop/UserDefaults.h"
#include "store/File.h"
#include "kvplugin/BuildInfo.h"

#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace kv {
namespace {

namespace fs = std::filesystem;
using Action = StatusMenu::Action;

std::string fileText(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The application's settings, login item and lock in a folder of the test's own; every alert is
// recorded and answered with `answer`.
class AppShellTest : public testing::Test {
protected:
    std::unique_ptr<AppDelegate> makeApp() {
        return std::make_unique<AppDelegate>(AppOptions{true, {"kvplugin"}}, [this](const AppDelegate::Alert& alert) {
            alerts_.push_back(alert.title + " | " + alert.text);
            return answer_;
        });
    }
    fs::path autostart() const { return home_.path() / "autostart" / "kvplugin.desktop"; }
    std::optional<std::int64_t> openAtLogin() const {
        return UserDefaults(home_.path() / "kvplugin" / "defaults.json").integerForKey("openAtLogin");
    }
    static std::string log() { return fileText(File::getRootPath() / "Logger" / "logfile-0.log"); }

    test::TempDirectory home_;
    test::ScopedEnvironment config_{"XDG_CONFIG_HOME", home_.path().string()};
    test::ScopedEnvironment runtime_{"XDG_RUNTIME_DIR", (home_.path() / "run").string()};
    std::vector<std::string> alerts_;
    int answer_ = 0;
};

TEST_F(AppShellTest, TheFirstLaunchRegistersTheLoginItemAndTheMenuShowsIt) {
    auto app = makeApp();
    app->registerLoginItem();
    EXPECT_EQ(openAtLogin(), 1);
    EXPECT_NE(fileText(autostart()).find("Exec=\""), std::string::npos);
    EXPECT_NE(log().find("In the first time open app"), std::string::npos);
    ASSERT_TRUE(app->setupStatusBarMenu());
    const auto& items = app->menu().items();
    ASSERT_EQ(items.size(), 11U);
    EXPECT_EQ(items[0].title, "  Open in Browser\t\t");
    EXPECT_EQ(items[6].title, "\tQuit");
    EXPECT_TRUE(items[7].separator && items[9].separator);
    EXPECT_EQ(items[8].title, "  Automatically start KeyvoraPlugin");
    EXPECT_EQ(items[8].image, "check_small");
    EXPECT_EQ(items[10].title, std::string("\tVersion: ") + build::kVersion + " - Build: " + build::kBuildNumber);
    EXPECT_EQ(items[10].action, Action::none);
}

TEST_F(AppShellTest, TheStartAtLoginItemSwitchesBothWaysAndOffIsKept) {
    {
        auto app = makeApp();
        app->registerLoginItem();
        ASSERT_TRUE(app->setupStatusBarMenu());
        app->perform(Action::openAtLogin);
        EXPECT_EQ(app->menu().items()[8].title, "\tAutomatically start KeyvoraPlugin");
        EXPECT_TRUE(app->menu().items()[8].image.empty());
        EXPECT_FALSE(app->menu().isOpenAtLoginOn());
        EXPECT_FALSE(fs::exists(autostart()));
        EXPECT_EQ(openAtLogin(), 0);
    }
    {
        // The next launch leaves the login item alone and shows the item off.
        auto app = makeApp();
        app->registerLoginItem();
        EXPECT_FALSE(fs::exists(autostart()));
        ASSERT_TRUE(app->setupStatusBarMenu());
        EXPECT_FALSE(app->menu().isOpenAtLoginOn());
        app->perform(Action::openAtLogin);
        EXPECT_TRUE(app->menu().isOpenAtLoginOn());
        EXPECT_EQ(app->menu().items()[8].title, "  Automatically start KeyvoraPlugin");
        EXPECT_TRUE(fs::exists(autostart()));
        EXPECT_EQ(openAtLogin(), 1);
    }
    EXPECT_TRUE(alerts_.empty()) << "switching asks nothing";
}

TEST_F(AppShellTest, CancelChangesNothingAndOkClearsTheCache) {
    auto app = makeApp();
    ASSERT_TRUE(app->setupStatusBarMenu());
    const auto cache = File::getRootPath() / "Cache";
    fs::create_directories(cache / "7");
    std::ofstream(cache / "7" / "song.mid") << "x";
    answer_ = 1;
    for (const Action action : {Action::clear, Action::restart, Action::quit}) app->perform(action);
    EXPECT_TRUE(fs::exists(cache / "7" / "song.mid"));
    ASSERT_EQ(alerts_.size(), 3U);
    EXPECT_EQ(alerts_[0], "Are you sure you want to clear all cache data on your computer? | You can't undo this action.");
    EXPECT_EQ(alerts_[1], "Do you really want to restart? | ");
    EXPECT_EQ(alerts_[2], "Do you really want to quit \"KVPlugin\"? | ");

    answer_ = 0;
    app->perform(Action::clear);
    EXPECT_FALSE(fs::exists(cache));
    app->perform(Action::clear);
    EXPECT_NE(log().find("Folder cache don't exist"), std::string::npos);
}

TEST_F(AppShellTest, ABrowserOpensTheDashboardOrAnAlertNamesTheMissingOne) {
    test::TempDirectory bin;
    const auto opened = bin.path() / "opened";
    const auto chromium = bin.path() / "chromium";
    std::ofstream(chromium) << "#!/bin/sh\necho \"$@\" > '" << opened.string() << "'\n";
    fs::permissions(chromium, fs::perms::owner_all);
    test::ScopedEnvironment path("PATH", bin.path().string());
    auto app = makeApp();
    ASSERT_TRUE(app->setupStatusBarMenu());

    app->perform(Action::openInChrome);
    for (int i = 0; i < 200 && fileText(opened).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(fileText(opened), std::string(build::kDashboardUrl) + "\n") << "Chromium stands in for Chrome";
    EXPECT_NE(std::string(build::kDashboardUrl).find("/nextgen/dashboard"), std::string::npos);
    EXPECT_TRUE(alerts_.empty());

    app->perform(Action::openInFirefox);
    app->perform(Action::openInBrowser);
    ASSERT_EQ(alerts_.size(), 2U);
    EXPECT_EQ(alerts_[0], "Error | You can't open the application \"FireFox\" because it isn't installed.");
    EXPECT_NE(alerts_[1].find("\"xdg-open\""), std::string::npos);
}

TEST_F(AppShellTest, OneCopyAtATime) {
    auto first = makeApp();
    auto second = makeApp();
    ASSERT_TRUE(first->setupStatusBarMenu());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(second->setupStatusBarMenu());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Can't run the application\nAn item named \"KVPlugin\" already exists. Please quit and run again\n");
    first.reset();
    EXPECT_TRUE(makeApp()->setupStatusBarMenu()) << "the lock goes with its holder";
}

TEST(CommandLine, ReadsItsOptionsAndRefusesWhatItDoesNotKnow) {
    EXPECT_EQ(CommandLine::parse({"kvplugin"}).mode, CommandLine::Mode::serve);
    const auto headless = CommandLine::parse({"kvplugin", "--headless"});
    EXPECT_TRUE(headless.headless);
    EXPECT_EQ(headless.mode, CommandLine::Mode::serve);
    const auto request = CommandLine::parse({"kvplugin", "--request", R"({"methodName":1})"});
    EXPECT_EQ(request.mode, CommandLine::Mode::request);
    EXPECT_EQ(request.request, R"({"methodName":1})");
    EXPECT_EQ(CommandLine::parse({"kvplugin", "--request"}).mode, CommandLine::Mode::invalid);
    EXPECT_EQ(CommandLine::parse({"kvplugin", "--verbose"}).problem, "unknown option --verbose");
    EXPECT_EQ(CommandLine::parse({"kvplugin", "--version"}).mode, CommandLine::Mode::version);
}

}  // namespace
}  // namespace kv
