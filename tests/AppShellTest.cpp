#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/RequestCommand.h"
#include "platform/desktop/UserDefaults.h"
#include "store/File.h"
#include "kvplugin/BuildInfo.h"

#include "support/Eventually.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"

#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

    test::TempDirectory home_;
    test::ScopedEnvironment config_{"XDG_CONFIG_HOME", home_.path().string()};
    test::ScopedEnvironment runtime_{"XDG_RUNTIME_DIR", (home_.path() / "run").string()};
    std::vector<std::string> alerts_;
    int answer_ = 0;
};

TEST_F(AppShellTest, TheStartAtLoginItemIsOnAtFirstThenSwitchesBothWaysAndOffIsKept) {
    for (const bool firstLaunch : {true, false}) {
        auto app = makeApp();
        app->registerLoginItem();
        ASSERT_TRUE(app->setupStatusBarMenu());
        EXPECT_EQ(app->menu().isOpenAtLoginOn(), firstLaunch) << "a later launch keeps it off";
        EXPECT_EQ(fs::exists(autostart()), firstLaunch);
        EXPECT_EQ(openAtLogin(), firstLaunch ? 1 : 0);
        app->perform(Action::openAtLogin);
        EXPECT_EQ(app->menu().isOpenAtLoginOn(), !firstLaunch);
        EXPECT_EQ(fs::exists(autostart()), !firstLaunch);
        EXPECT_EQ(openAtLogin(), firstLaunch ? 0 : 1);
    }
    EXPECT_NE(fileText(autostart()).find("Exec=\""), std::string::npos);
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
    EXPECT_EQ(alerts_.size(), 5U) << "a cache already cleared only asks";
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
    test::eventually([&] { return !fileText(opened).empty(); });
    EXPECT_EQ(fileText(opened), std::string(build::kDashboardUrl) + "\n") << "Chromium stands in for Chrome";
    EXPECT_TRUE(alerts_.empty());

    app->perform(Action::openInFirefox);
    app->perform(Action::openInBrowser);
    ASSERT_EQ(alerts_.size(), 2U);
    EXPECT_EQ(alerts_[0], "Error | You can't open the application \"FireFox\" because it isn't installed.");
    EXPECT_NE(alerts_[1].find("\"xdg-open\""), std::string::npos);
}

// Two ports that take the connection and never answer: the request gives up within its time in
// all, not its time on each port.
TEST(RequestCommand, GivesUpWithinItsTimeInAll) {
    boost::asio::io_context context;
    std::vector<std::unique_ptr<boost::asio::ip::tcp::acceptor>> silent;
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < 2; ++i) {
        silent.push_back(std::make_unique<boost::asio::ip::tcp::acceptor>(
            context, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0)));
        ports.push_back(silent.back()->local_endpoint().port());
    }
    std::ostringstream out;
    std::ostringstream error;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(RequestCommand(ports, std::chrono::seconds(2)).run(R"({"methodName":1})", out, error), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(3500));
    EXPECT_TRUE(out.str().empty());
}

TEST(CommandLine, ReadsItsOptionsAndRefusesWhatItDoesNotKnow) {
    using Mode = CommandLine::Mode;
    const std::vector<std::pair<std::vector<std::string>, Mode>> table = {
        {{"kvplugin"}, Mode::serve}, {{"kvplugin", "--headless"}, Mode::serve}, {{"kvplugin", "--request", "{}"}, Mode::request},
        {{"kvplugin", "--request"}, Mode::invalid}, {{"kvplugin", "--verbose"}, Mode::invalid}, {{"kvplugin", "--version"}, Mode::version},
        {{"kvplugin", "--doctor"}, Mode::doctor},
    };
    for (const auto& [arguments, mode] : table) EXPECT_EQ(CommandLine::parse(arguments).mode, mode) << arguments.back();
    EXPECT_TRUE(CommandLine::parse({"kvplugin", "--headless"}).headless);
    EXPECT_EQ(CommandLine::parse({"kvplugin", "--request", "{}"}).request, "{}");
}

}  // namespace
}  // namespace kv
