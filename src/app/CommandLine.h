#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kv {

// What the service was asked to do on its command line.
struct CommandLine {
    enum class Mode { serve, help, version, request, doctor, invalid };

    Mode mode = Mode::serve;
    bool headless = false;
    std::string request;  // the JSON text of --request
    std::string problem;  // why the line is invalid

    static CommandLine parse(const std::vector<std::string>& arguments);
    static const char* usage();
};

}  // namespace kv
