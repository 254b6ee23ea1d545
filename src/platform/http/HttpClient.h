#pragma once

#include "platform/http/HttpTransfers.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace kv {

// Blocking HTTPS GETs into memory, on the service's transfers: certificate verification on, no
// caches, no cookies.
class HttpClient {
public:
    // caFile: a further certificate authority to trust, besides the system's.
    explicit HttpClient(HttpTransfers& transfers, std::optional<std::string> caFile = std::nullopt)
        : transfers_(transfers), caFile_(std::move(caFile)) {}
    // A transfer in progress stops soon after *cancelled turns true.
    HttpResponse get(const std::string& url, std::chrono::milliseconds timeout,
                     const std::map<std::string, std::string>& requestHeaders = {},
                     const std::atomic<bool>* cancelled = nullptr) const;
    // Files larger than this fail the transfer rather than fill the memory.
    static constexpr std::int64_t kMaxBodyBytes = 64 * 1024 * 1024;

private:
    HttpTransfers& transfers_;
    std::optional<std::string> caFile_;
};

}  // namespace kv
