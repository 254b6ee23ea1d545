#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace kv {

struct HttpResponse {
    long status = 0;
    std::string body;
    std::map<std::string, std::string> headers;  // names in lower case
    std::optional<std::string> transportError;   // set when no HTTP answer came

    // A response header, found without regard to case.
    std::optional<std::string> headerValue(const std::string& name) const;
};

// Blocking HTTPS GETs through libcurl: certificate verification on, no caches, no cookies.
class HttpClient {
public:
    // caFile: a further certificate authority to trust, besides the system's.
    explicit HttpClient(std::optional<std::string> caFile = std::nullopt);

    // A transfer in progress stops soon after *cancelled turns true.
    HttpResponse get(const std::string& url, std::chrono::milliseconds timeout,
                     const std::map<std::string, std::string>& requestHeaders = {},
                     const std::atomic<bool>* cancelled = nullptr) const;

    // Files larger than this fail the transfer rather than fill the memory.
    static constexpr std::int64_t kMaxBodyBytes = 64 * 1024 * 1024;

private:
    std::optional<std::string> caFile_;
};

}  // namespace kv
