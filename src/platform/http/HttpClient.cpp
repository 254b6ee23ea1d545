#include "platform/http/HttpClient.h"

namespace kv {

HttpResponse HttpClient::get(const std::string& url, std::chrono::milliseconds timeout,
                             const std::map<std::string, std::string>& requestHeaders,
                             const std::atomic<bool>* cancelled) const {
    HttpTransfers::Options options;
    options.maxTime = timeout;
    options.maxBytes = kMaxBodyBytes;
    options.requestHeaders = requestHeaders;
    options.caFile = caFile_;
    options.abandon = cancelled;
    return transfers_.get(url, std::move(options));
}

}  // namespace kv
