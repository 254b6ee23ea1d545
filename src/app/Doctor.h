#pragma once

#include "app/DoctorSection.h"
#include "base/DateText.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kv {

// `kvplugin --doctor`: why there is no sound or no keyboard, in plain words, a section for each
// part a lesson needs. It only reads. The running service is not asked anything: every request
// makes its connection the one the played keys are pushed to, which would take them from the
// lesson in the browser; what the service would say, the doctor reads where the service does.
class Doctor {
public:
    struct Settings {
        std::vector<std::uint16_t> ports{19420, 19421};
        std::vector<std::uint16_t> portsSSL{19520, 19521};
        std::filesystem::path store;
        std::filesystem::path certificates;
        std::filesystem::path shippedCertificate;
        std::filesystem::path soundFont;
        std::filesystem::path autostart;  // the start-at-login entry's file
        std::function<Date()> now = [] { return std::chrono::system_clock::now(); };

        // Where the service keeps each of them for this user.
        static Settings standard();
    };

    explicit Doctor(Settings settings) : settings_(std::move(settings)) {}

    std::vector<DoctorSection> examine() const;
    // The report as printed: a heading, the sections, and whether a lesson can run.
    std::string text(const std::vector<DoctorSection>& sections) const;
    // 0 exactly when a lesson can run: no section found a problem.
    static int exitStatus(const std::vector<DoctorSection>& sections);

private:
    Settings settings_;
};

}  // namespace kv
