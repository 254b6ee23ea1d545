#pragma once

#include "app/AllFlows.h"
#include "core/RequestDispatcher.h"
#include "core/SocketService.h"

#include "support/WsClient.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
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

    // Starts the service; answers the port it serves, or 0 after a failure.
    std::uint16_t startService(std::vector<std::uint16_t> ports);
    std::uint16_t startService() { return startService({freePort(), freePort()}); }

    boost::asio::io_context context_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepAlive_{
        context_.get_executor()};
    FlowTable flows_ = makeAllFlows();
    RequestDispatcher dispatcher_{flows_};
    std::shared_ptr<SocketService> service_;
    std::thread loop_;
};

// {"methodName": n, "functionId": id, "data": data (when not null)}
nlohmann::json request(int methodName, const std::string& functionId, nlohmann::json data = nullptr);
// The next message parsed as JSON, or null.
nlohmann::json answer(WsClient& client);
// Sends the request and answers the `data` of the response.
nlohmann::json call(WsClient& client, const nlohmann::json& request);

}  // namespace kv::test
