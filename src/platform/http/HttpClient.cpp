#include "platform/http/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

namespace kv {

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* target) {
    auto& body = *static_cast<std::string*>(target);
    const std::size_t bytes = size * count;
    if (body.size() + bytes > static_cast<std::size_t>(HttpClient::kMaxBodyBytes)) return 0;
    body.append(data, bytes);
    return bytes;
}

// Keeps the headers of the last response only: a redirect's are replaced by its target's.
std::size_t collectHeader(char* data, std::size_t size, std::size_t count, void* target) {
    auto& headers = *static_cast<std::map<std::string, std::string>*>(target);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        headers.clear();
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
        headers[lowerCase(trimmed(line.substr(0, colon)))] = trimmed(line.substr(colon + 1));
    }
    return size * count;
}

int abortWhenCancelled(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return cancelled && static_cast<const std::atomic<bool>*>(cancelled)->load() ? 1 : 0;
}

struct CurlFree {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

std::optional<std::string> HttpResponse::headerValue(const std::string& name) const {
    const auto found = headers.find(lowerCase(name));
    if (found == headers.end()) return std::nullopt;
    return found->second;
}

HttpClient::HttpClient(std::optional<std::string> caFile) : caFile_(std::move(caFile)) {
    static std::once_flag initialized;
    std::call_once(initialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpResponse HttpClient::get(const std::string& url, std::chrono::milliseconds timeout,
                             const std::map<std::string, std::string>& requestHeaders,
                             const std::atomic<bool>* cancelled) const {
    HttpResponse response;
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl) {
        response.transportError = "cannot create an HTTP handle";
        return response;
    }
    std::unique_ptr<curl_slist, SlistFree> headerList;
    auto addHeader = [&](const std::string& line) {
        headerList.reset(curl_slist_append(headerList.release(), line.c_str()));
    };
    addHeader("Cache-Control: no-cache");
    addHeader("Pragma: no-cache");
    for (const auto& [name, value] : requestHeaders) addHeader(name + ": " + value);

    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https,http");
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));
    if (caFile_) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile_->c_str());
        curl_easy_setopt(handle, CURLOPT_CAPATH, "/etc/ssl/certs");
    }
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
    if (cancelled) {
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, abortWhenCancelled);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(cancelled));
    }
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &response.headers);

    const CURLcode result = curl_easy_perform(handle);
    if (result != CURLE_OK) {
        response.transportError = curl_easy_strerror(result);
        return response;
    }
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
}

}  // namespace kv
