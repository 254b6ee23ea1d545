#pragma once

#include "platform/net/WebSocketMessage.h"

#include <boost/system/error_code.hpp>

#include <functional>
#include <memory>
#include <string>

namespace kv {

class WebSocketConnection;
class WebSocketServer;

// Events of a server and of its connections, all delivered on the server's io_context thread.
class WebSocketServerDelegate {
public:
    virtual ~WebSocketServerDelegate() = default;

    virtual void serverDidStart(WebSocketServer& server) = 0;
    virtual void serverDidStop(WebSocketServer& server) = 0;
    virtual void serverDidFail(WebSocketServer& server, const boost::system::error_code& error) = 0;

    // The upgrade request as text; false refuses the connection.
    virtual bool shouldAcceptRequest(const std::string& request) = 0;
    virtual void connectionDidOpen(const std::shared_ptr<WebSocketConnection>& connection) = 0;
    // `answered` is called, from any thread, once the message has been answered: the connection
    // reads its next message only then.
    virtual void connectionDidReceive(const std::shared_ptr<WebSocketConnection>& connection,
                                      WebSocketMessage message, std::function<void()> answered) = 0;
    virtual void connectionDidFail(const std::shared_ptr<WebSocketConnection>& connection,
                                   const boost::system::error_code& error) = 0;
    // Every connection that opened ends here exactly once, failed or not.
    virtual void connectionDidClose(const std::shared_ptr<WebSocketConnection>& connection,
                                    int code, const std::string& reason, bool wasClean) = 0;
};

}  // namespace kv
