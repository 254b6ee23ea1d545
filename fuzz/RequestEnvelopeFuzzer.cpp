// libFuzzer: a WebSocket message's text read as a request envelope and answered with a response
// envelope, as the receive path does before any flow. Built and run by `make fuzz`.
#include "base/SharedObject.h"
#include "core/BaseRequestJSONObject.h"
#include "core/BaseResponseJSONObject.h"
#include "core/KeyvoraFlow.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kv::SharedObject<kv::KeyvoraFlow> session;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kv::BaseRequestJSONObject request;
    try {
        request = kv::parseRequest(text);
    } catch (const std::exception&) {
        return 0;  // answered with an error text by the dispatcher
    }
    const auto response = kv::composeResponseMessage(request.data, 0, "SUCCESS", request);
    if (response.toJSONString().empty()) __builtin_trap();
    return 0;
}
