#include "app/Doctor.h"
#include "core/CertManager.h"
#include "store/Database.h"

#include "support/PulseServer.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"
#include "support/TestCertificates.h"

#include <boost/asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>

namespace kv {
namespace {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using Verdict = DoctorSection::Verdict;

// A desktop where a lesson can run: the SoundFont, a whole store, a current certificate and free
// ports (the sound server is the test's). Each case then breaks one thing.
struct HealthyDesktop {
    HealthyDesktop() {
        fs::create_directories(home.path() / "store");
        fs::create_directories(home.path() / "cert");
        EXPECT_TRUE(Database().open(home.path() / "store" / Database::kFileName));
        test::makeCertificate(home.path(), "current").exportPfx(home.path() / "cert" / "current.pfx", CertManager::kPfxPassword);
        settings.store = home.path() / "store";
        settings.certificates = home.path() / "cert";
        settings.shippedCertificate = home.path() / "none.pfx";
        settings.soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
        settings.autostart = home.path() / "autostart" / "kvplugin.desktop";
        settings.ports = {freePort(), freePort()};
        settings.portsSSL = {freePort(), freePort()};
    }
    std::uint16_t freePort() {
        asio::ip::tcp::acceptor probe(context, {asio::ip::make_address("127.0.0.1"), 0});
        return probe.local_endpoint().port();
    }
    // Listens on the port for as long as the desktop lives.
    void hold(std::uint16_t port) { held.emplace_back(context, asio::ip::tcp::endpoint{asio::ip::make_address("127.0.0.1"), port}); }

    asio::io_context context;
    test::TempDirectory home;
    Doctor::Settings settings;
    std::vector<asio::ip::tcp::acceptor> held;
};

const DoctorSection& section(const std::vector<DoctorSection>& sections, const std::string& title) {
    const auto found = std::find_if(sections.begin(), sections.end(), [&](const DoctorSection& s) { return s.title == title; });
    if (found == sections.end()) throw std::runtime_error("no section " + title);
    return *found;
}

bool says(const DoctorSection& section, const std::string& words) {
    return std::any_of(section.lines.begin(), section.lines.end(),
                       [&](const std::string& line) { return line.find(words) != std::string::npos; });
}

// Each state a support call meets: the section that finds it, what it names, and the exit status.
TEST(Doctor, EachBrokenPartIsFoundInItsSectionAndOnlyAProblemFailsTheExit) {
    if (!test::PulseServer::installed()) GTEST_SKIP() << "PulseAudio is not installed";
    test::PulseServer pulse;
    ASSERT_TRUE(pulse.running());
    const test::ScopedEnvironment runtime("XDG_RUNTIME_DIR", pulse.runtimeFolder().string());
    const test::ScopedEnvironment audioApi("KVPLUGIN_AUDIO_API", "pulse");
    test::TempDirectory noServer;
    std::optional<test::ScopedEnvironment> noSound;
    struct Case {
        const char* name;
        std::function<void(HealthyDesktop&)> breakIt;
        const char* section;
        Verdict verdict;
        std::string named;  // what the section's text names
    };
    const std::vector<Case> cases = {
        {"a desktop a lesson runs on", [](HealthyDesktop&) {}, "Sound output", Verdict::ok, "48000 Hz"},
        {"no sound server", [&](HealthyDesktop&) { noSound.emplace("XDG_RUNTIME_DIR", noServer.path().string()); }, "Sound output",
         Verdict::problem, "PulseAudio: passed over"},
        {"both ws ports held by another program",
         [](HealthyDesktop& desktop) {
             for (const auto port : desktop.settings.ports) desktop.hold(port);
         },
         "Ports", Verdict::problem, "held by another program: kv_shell_tests"},
        {"an expired certificate", [](HealthyDesktop& desktop) { desktop.settings.now = [] { return std::chrono::system_clock::now() + std::chrono::hours(24 * 400); }; },
         "Certificate", Verdict::problem, "days ago"},
        {"a corrupted store",
         [](HealthyDesktop& desktop) {
             std::fstream file(desktop.settings.store / Database::kFileName, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(4096);
             file << std::string(8192, '\x5A');
         },
         "Store", Verdict::problem, "integrity check fails"},
        {"no SoundFont", [](HealthyDesktop& desktop) { desktop.settings.soundFont = desktop.home.path() / "missing.sf2"; }, "SoundFont", Verdict::problem,
         "missing.sf2 is missing"},
    };
    for (const Case& broken : cases) {
        SCOPED_TRACE(broken.name);
        HealthyDesktop desktop;
        broken.breakIt(desktop);
        const Doctor doctor(desktop.settings);
        const auto sections = doctor.examine();
        const DoctorSection& found = section(sections, broken.section);
        EXPECT_EQ(found.verdict, broken.verdict) << doctor.text(sections);
        EXPECT_TRUE(says(found, broken.named)) << doctor.text(sections);
        EXPECT_EQ(Doctor::exitStatus(sections), broken.verdict == Verdict::problem ? 1 : 0) << doctor.text(sections);
        noSound.reset();
    }
}

}  // namespace
}  // namespace kv
