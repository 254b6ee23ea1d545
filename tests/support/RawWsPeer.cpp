#include "support/RawWsPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace kv::test {

namespace {

constexpr const char* kUpgrade =
    "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

// Waits for readable bytes; 0 at the end of the stream or an error, -1 when none came in time.
ssize_t readSome(int fd, std::string& into, std::chrono::milliseconds timeout) {
    pollfd poller{fd, POLLIN, 0};
    if (poll(&poller, 1, static_cast<int>(timeout.count())) <= 0) return -1;
    char chunk[65536];
    const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got > 0) into.append(chunk, static_cast<std::size_t>(got));
    return got > 0 ? got : 0;
}

// One whole unmasked frame at the front of `bytes`: its payload, and its length in bytes.
std::optional<std::pair<std::string, std::size_t>> frameAt(const std::string& bytes, bool& malformed) {
    if (bytes.size() < 2) return std::nullopt;
    const auto first = static_cast<unsigned char>(bytes[0]);
    const auto second = static_cast<unsigned char>(bytes[1]);
    if ((first & 0x70) != 0 || (second & 0x80) != 0) malformed = true;  // reserved bits, a mask
    std::size_t length = second & 0x7F;
    std::size_t header = 2;
    if (length == 126 || length == 127) {
        const std::size_t bytesOfLength = length == 126 ? 2 : 8;
        if (bytes.size() < 2 + bytesOfLength) return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < bytesOfLength; ++i) length = length << 8 | static_cast<unsigned char>(bytes[2 + i]);
        header += bytesOfLength;
    }
    if (bytes.size() < header + length) return std::nullopt;
    return std::pair(bytes.substr(header, length), header + length);
}

}  // namespace

RawWsPeer::RawWsPeer(std::uint16_t port, int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    ::send(fd_, kUpgrade, std::strlen(kUpgrade), MSG_NOSIGNAL);
    std::string response;
    while (response.find("\r\n\r\n") == std::string::npos) {
        if (readSome(fd_, response, std::chrono::seconds(5)) <= 0) return;
    }
    upgraded_ = response.starts_with("HTTP/1.1 101");
    pending_ = response.substr(response.find("\r\n\r\n") + 4);
}

RawWsPeer::~RawWsPeer() {
    if (fd_ >= 0) ::close(fd_);
}

bool RawWsPeer::sendText(const std::string& text) {
    return sendFrame(0x1, text);
}

bool RawWsPeer::sendPing(const std::string& payload) {
    return sendFrame(0x9, payload);
}

bool RawWsPeer::receivePong(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    bool malformed = false;
    while (true) {
        while (auto frame = frameAt(pending_, malformed)) {
            const auto opcode = static_cast<unsigned char>(pending_[0]) & 0x0F;
            pending_.erase(0, frame->second);
            if (opcode == 0xA) return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || readSome(fd_, pending_, left) <= 0) return false;
    }
}

bool RawWsPeer::sendFrame(unsigned char opcode, const std::string& text) {
    std::string frame;
    frame.push_back(static_cast<char>(0x80 | opcode));
    if (text.size() < 126) {
        frame.push_back(static_cast<char>(0x80 | text.size()));
    } else {
        frame.push_back(static_cast<char>(0x80 | 126));
        frame.push_back(static_cast<char>(text.size() >> 8));
        frame.push_back(static_cast<char>(text.size() & 0xFF));
    }
    const char mask[4] = {0x12, 0x34, 0x56, 0x78};
    frame.append(mask, 4);
    for (std::size_t i = 0; i < text.size(); ++i) frame.push_back(static_cast<char>(text[i] ^ mask[i % 4]));
    return ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
}

void RawWsPeer::shutdownSending() {
    ::shutdown(fd_, SHUT_WR);
}

std::vector<std::string> RawWsPeer::receiveAll(std::chrono::milliseconds quiet, bool& malformed) {
    std::vector<std::string> texts;
    while (true) {
        while (auto frame = frameAt(pending_, malformed)) {
            const auto opcode = static_cast<unsigned char>(pending_[0]) & 0x0F;
            if (opcode == 0x1) texts.push_back(frame->first);
            else if (opcode != 0x8) malformed = true;  // only text and close frames are sent
            pending_.erase(0, frame->second);
        }
        if (readSome(fd_, pending_, quiet) <= 0) return texts;
    }
}

bool RawWsPeer::closedByService(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        pending_.clear();
        if (readSome(fd_, pending_, std::chrono::milliseconds(100)) == 0) return true;
    }
    return false;
}

}  // namespace kv::test
