#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::test {

// A WebSocket peer on a bare socket, for the ways a browser tab can misbehave that a library
// client does not: closing only its sending side, or never reading what it is sent.
class RawWsPeer {
public:
    // receiveBuffer: the socket's receive buffer in bytes (0: the system's).
    explicit RawWsPeer(std::uint16_t port, int receiveBuffer = 0);
    ~RawWsPeer();
    RawWsPeer(const RawWsPeer&) = delete;
    RawWsPeer& operator=(const RawWsPeer&) = delete;

    bool upgraded() const { return upgraded_; }
    // One masked text frame; false once the service has dropped the connection.
    bool sendText(const std::string& text);
    // A WebSocket ping control frame, and whether its pong came within `timeout`.
    bool sendPing(const std::string& payload);
    bool receivePong(std::chrono::milliseconds timeout);
    void shutdownSending();
    // The payloads of the text frames received until the service ends the connection or
    // nothing comes for `quiet`. Sets `malformed` when bytes arrive that are no frame.
    std::vector<std::string> receiveAll(std::chrono::milliseconds quiet, bool& malformed);
    // Whether the service has closed the connection (read end or reset), waiting up to `timeout`
    // while discarding what arrives.
    bool closedByService(std::chrono::milliseconds timeout);

private:
    bool sendFrame(unsigned char opcode, const std::string& payload);

    int fd_ = -1;
    bool upgraded_ = false;
    std::string pending_;  // received bytes not yet parsed into frames
};

}  // namespace kv::test
