#include "platform/audio/SoundServers.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace kv {

namespace {

std::filesystem::path runtimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime ? runtime : "";
}

bool present(const std::filesystem::path& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::exists(path, error);
}

}  // namespace

bool pulseServerRunning() {
    return std::getenv("PULSE_SERVER") || (!runtimeFolder().empty() && present(runtimeFolder() / "pulse" / "native"));
}

bool pipeWireRunning() {
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    return !runtimeFolder().empty() && present(runtimeFolder() / (remote && *remote ? remote : "pipewire-0"));
}

bool soundCardPresent() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/snd", error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("pcmC") && name.ends_with("p")) return true;  // a playback device
    }
    return false;
}

std::filesystem::path loadedJackLibrary() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const auto path = line.find('/');
        if (path != std::string::npos && line.find("/libjack.so", path) != std::string::npos) return line.substr(path);
    }
    return {};
}

}  // namespace kv
