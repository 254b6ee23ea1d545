#pragma once

#include <cstdint>
#include <string>

namespace kv {

// One open WebSocket connection as the service sees it.
class WebSocketConnection {
public:
    virtual ~WebSocketConnection() = default;

    // Safe from any thread; queued and sent in order as one text frame each.
    // A connection that has closed drops what it is given.
    virtual void send(std::string text) = 0;
    virtual void close() = 0;
    virtual std::uint16_t localPort() const = 0;
};

}  // namespace kv
