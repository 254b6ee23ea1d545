#pragma once

#include "app/DoctorSection.h"
#include "base/DateText.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace kv {

// Each part of `kvplugin --doctor`; none changes anything it looks at.
DoctorSection checkSoundOutput();
DoctorSection checkSoundFont(const std::filesystem::path& soundFont);
// The keyboards the MIDI system shows now, and the one last chosen as the store keeps it.
DoctorSection checkKeyboards(const std::filesystem::path& database);
DoctorSection checkPorts(const std::vector<std::uint16_t>& plain, const std::vector<std::uint16_t>& tls);
DoctorSection checkCertificate(const std::filesystem::path& folder, const std::filesystem::path& shipped, Date now);
DoctorSection checkStore(const std::filesystem::path& root);
DoctorSection checkThisService(const std::vector<std::uint16_t>& plain, const std::filesystem::path& autostart);

}  // namespace kv
