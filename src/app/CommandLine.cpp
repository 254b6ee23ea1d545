#include "app/CommandLine.h"

namespace kv {

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line.mode = Mode::help;
        } else if (argument == "--version") {
            line.mode = Mode::version;
        } else if (argument == "--doctor") {
            line.mode = Mode::doctor;
        } else if (argument == "--headless") {
            line.headless = true;
        } else if (argument == "--request" && i + 1 < arguments.size()) {
            line.mode = Mode::request;
            line.request = arguments[++i];
        } else {
            line.mode = Mode::invalid;
            line.problem = argument == "--request" ? "--request needs a JSON request" : "unknown option " + argument;
            return line;
        }
    }
    return line;
}

const char* CommandLine::usage() {
    return "Usage: kvplugin [--headless]\n"
           "       kvplugin --request JSON\n"
           "       kvplugin --doctor\n"
           "\n"
           "Serves the piano lessons of the web application on ws://127.0.0.1:19420 and wss://127.0.0.1:19520.\n"
           "\n"
           "  --headless       no tray icon, also on a desktop\n"
           "  --request JSON   send one request to the running service, print its answer and exit\n"
           "                   (status 1 when nothing answers within 5 s)\n"
           "  --doctor         say why there is no sound or no keyboard, one section each, and exit\n"
           "                   (status 0 only when a lesson can run)\n"
           "  --version        print the version and build number\n"
           "  --help           print this text\n";
}

}  // namespace kv
