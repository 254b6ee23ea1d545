#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kv {

// `kvplugin --request JSON`: sends one request to the running service over its plain WebSocket
// and prints the answer to it, for support on a call.
class RequestCommand {
public:
    explicit RequestCommand(std::vector<std::uint16_t> ports = {19420, 19421}, std::chrono::seconds timeout = std::chrono::seconds(5))
        : ports_(std::move(ports)), timeout_(timeout) {}

    // 0 and the answer on `out`; 1 and why on `error` when nothing answers in time; 2 for a
    // request that is not a JSON object.
    int run(const std::string& request, std::ostream& out, std::ostream& error) const;

private:
    std::vector<std::uint16_t> ports_;
    std::chrono::seconds timeout_;
};

}  // namespace kv
