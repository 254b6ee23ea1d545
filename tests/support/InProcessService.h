#pragma once

#include "app/Service.h"

#include "support/TempDirectory.h"
#include "support/WsClient.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace kv::test {

// A port that was free a moment ago.
std::uint16_t freePort();

// The whole service in the test process, on ports of its own, with its database and certificates
// in folders of the test: the test plays the browser.
class InProcessService : public ::testing::Test {
protected:
    void TearDown() override;

    // Starts the service's listeners; answers the plain port they serve, or 0 after a failure.
    // The MIDI device manager starts with startDevices(), once the browser has connected.
    std::uint16_t startService(std::vector<std::uint16_t> ports,
                               std::vector<std::uint16_t> portsSSL = {freePort(), freePort()});
    std::uint16_t startService() { return startService({freePort(), freePort()}); }
    void startDevices() { service_->startDevices(); }
    // Runs work on the service's main queue, or its network thread, and waits for its result.
    template <class Work>
    auto onMainLoop(Work work) -> decltype(work()) {
        return service_->mainQueue().sync(std::move(work));
    }
    template <class Work>
    auto onNetwork(Work work) -> decltype(work()) {
        return service_->network().sync(std::move(work));
    }

    // The browser: a client of the plain port, connected at its first use.
    WsClient& browser();
    // The next message the browser receives, parsed; null when none comes within the time.
    nlohmann::json next(std::chrono::milliseconds within = std::chrono::seconds(10));
    // Sends the request and answers the `data` of the answer to it; pushes before it are passed over.
    nlohmann::json call(int methodName, nlohmann::json data = nullptr);
    nlohmann::json call(const nlohmann::json& request, std::chrono::milliseconds within = std::chrono::seconds(30));

    WebSocketLimits limits_;  // a test may set smaller ones before it starts the service
    std::chrono::nanoseconds quietBeforeRest_ = SoundSystem::kQuietBeforeRest;  // and a shorter rest
    TempDirectory store_;
    TempDirectory certFolder_;
    std::unique_ptr<Service> service_;
    std::unique_ptr<WsClient> browser_;
};

// {"methodName": n, "functionId": id, "data": data (when not null)}
nlohmann::json request(int methodName, const std::string& functionId, nlohmann::json data = nullptr);
// The next message parsed as JSON, or null.
// A 16 MiB message takes seconds under ThreadSanitizer: the bound only catches an answer that
// never comes.
nlohmann::json answer(WsClient& client, std::chrono::milliseconds within = std::chrono::seconds(30));
// Sends the request and answers the `data` of the response.
nlohmann::json call(WsClient& client, const nlohmann::json& request);

}  // namespace kv::test
