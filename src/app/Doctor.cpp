#include "app/Doctor.h"

#include "app/DoctorChecks.h"
#include "base/StoreRoot.h"
#include "kvplugin/BuildInfo.h"
#include "platform/desktop/AutostartEntry.h"
#include "platform/desktop/Resources.h"
#include "playback/SoundSystem.h"
#include "store/CachePaths.h"

#include <algorithm>

namespace kv {

namespace {

const char* mark(DoctorSection::Verdict verdict) {
    switch (verdict) {
        case DoctorSection::Verdict::ok: return "OK     ";
        case DoctorSection::Verdict::note: return "NOTE   ";
        case DoctorSection::Verdict::problem: return "PROBLEM";
    }
    return "";
}

}  // namespace

Doctor::Settings Doctor::Settings::standard() {
    Settings settings;
    settings.store = storeRoot();
    settings.certificates = getCertificateFolderPath();
    settings.shippedCertificate = resourcePath("lumen.pfx");
    settings.soundFont = SoundSystem::standardSoundFont();
    settings.autostart = AutostartEntry("kvplugin", "KVPlugin", {}).file();
    return settings;
}

std::vector<DoctorSection> Doctor::examine() const {
    return {checkSoundOutput(),
            checkSoundFont(settings_.soundFont),
            checkKeyboards(settings_.store / "keyvora.sqlite"),
            checkPorts(settings_.ports, settings_.portsSSL),
            checkCertificate(settings_.certificates, settings_.shippedCertificate, settings_.now()),
            checkStore(settings_.store),
            checkThisService(settings_.ports, settings_.autostart)};
}

std::string Doctor::text(const std::vector<DoctorSection>& sections) const {
    std::string text = std::string("KVPlugin ") + build::kVersion + " (build " + build::kBuildNumber + "), diagnosis of " +
                       utcText(settings_.now()) + " UTC\n";
    for (const DoctorSection& section : sections) {
        text += "\n" + std::string(mark(section.verdict)) + "  " + section.title + "\n";
        for (const std::string& line : section.lines) text += "         " + line + "\n";
    }
    std::vector<std::string> problems;
    for (const DoctorSection& section : sections) {
        if (section.verdict == DoctorSection::Verdict::problem) problems.push_back(section.title);
    }
    if (problems.empty()) return text + "\nA lesson can run.\n";
    text += "\nA lesson cannot run: see ";
    for (std::size_t i = 0; i < problems.size(); ++i) text += (i ? ", " : "") + problems[i];
    return text + ".\n";
}

int Doctor::exitStatus(const std::vector<DoctorSection>& sections) {
    return std::any_of(sections.begin(), sections.end(),
                       [](const DoctorSection& section) { return section.verdict == DoctorSection::Verdict::problem; })
               ? 1
               : 0;
}

}  // namespace kv
