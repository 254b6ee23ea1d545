#pragma once

#include <string>

namespace kv {

struct WebSocketMessage {
    std::string payload;
    bool isText = true;
};

}  // namespace kv
