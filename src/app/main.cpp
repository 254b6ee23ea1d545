#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/Doctor.h"
#include "app/RequestCommand.h"
#include "kvplugin/BuildInfo.h"

#include <iostream>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    const auto line = kv::CommandLine::parse(arguments);
    switch (line.mode) {
        case kv::CommandLine::Mode::help: std::cout << kv::CommandLine::usage(); return 0;
        case kv::CommandLine::Mode::version:
            std::cout << "KVPlugin " << kv::build::kVersion << " (build " << kv::build::kBuildNumber << ")\n";
            return 0;
        case kv::CommandLine::Mode::request: return kv::RequestCommand().run(line.request, std::cout, std::cerr);
        case kv::CommandLine::Mode::doctor: {
            const kv::Doctor doctor(kv::Doctor::Settings::standard());
            const auto sections = doctor.examine();
            std::cout << doctor.text(sections);
            return kv::Doctor::exitStatus(sections);
        }
        case kv::CommandLine::Mode::invalid: std::cerr << "kvplugin: " << line.problem << "\n\n" << kv::CommandLine::usage(); return 2;
        case kv::CommandLine::Mode::serve: break;
    }
    kv::AppDelegate app({line.headless, arguments});
    return app.run();
}
