#pragma once

#include "app/AllFlows.h"
#include "core/CertManager.h"
#include "core/RequestDispatcher.h"
#include "core/SocketService.h"

#include "support/TempDirectory.h"
#include "support/WsClient.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <boost/asio/post.hpp>

#include <cstdint>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace kv::test {

// A port that was free a moment ago.
std::uint16_t freePort();

// The whole service in the test process, on ports of its own, its main loop on a thread of
// the test: the test plays the browser.
class InProcessService : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Certificates of a folder of the test's own; no manifest server answers.
    CertManager::Settings certSettings();
    // Starts the service; answers the plain port it serves, or 0 after a failure.
    std::uint16_t startService(std::vector<std::uint16_t> ports,
                               std::vector<std::uint16_t> portsSSL = {freePort(), freePort()});
    std::uint16_t startService() { return startService({freePort(), freePort()}); }
    // Runs work on the service's main loop and waits for its result.
    template <class Work>
    auto onMainLoop(Work work) -> decltype(work());

    // Shared, so that a test can keep the loop alive for singletons that hold timers on it.
    std::shared_ptr<boost::asio::io_context> sharedContext_ = std::make_shared<boost::asio::io_context>();
    boost::asio::io_context& context_ = *sharedContext_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepAlive_{
        context_.get_executor()};
    WebSocketLimits limits_;  // a test may set smaller ones before it starts the service
    FlowTable flows_ = makeAllFlows();
    RequestDispatcher dispatcher_{flows_};
    TempDirectory certFolder_;
    std::unique_ptr<CertManager> certManager_;
    std::shared_ptr<SocketService> service_;
    std::thread loop_;
};

template <class Work>
auto InProcessService::onMainLoop(Work work) -> decltype(work()) {
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    boost::asio::post(context_, [&task] { task(); });
    return result.get();
}

// {"methodName": n, "functionId": id, "data": data (when not null)}
nlohmann::json request(int methodName, const std::string& functionId, nlohmann::json data = nullptr);
// The next message parsed as JSON, or null.
nlohmann::json answer(WsClient& client);
// Sends the request and answers the `data` of the response.
nlohmann::json call(WsClient& client, const nlohmann::json& request);

}  // namespace kv::test
