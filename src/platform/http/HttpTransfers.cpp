#include "platform/http/HttpTransfers.h"

#include "platform/files/Descriptors.h"

#include <curl/curl.h>
#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <future>

namespace kv {

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

struct EasyFree {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

CURLM* multiOf(void* multi) {
    return static_cast<CURLM*>(multi);
}

}  // namespace

std::optional<std::string> HttpResponse::headerValue(const std::string& name) const {
    const auto found = headers.find(lowerCase(name));
    if (found == headers.end()) return std::nullopt;
    return found->second;
}

struct HttpTransfers::Transfer {
    Id id = 0;
    Options options;
    Progress progress;
    Finished finished;
    std::unique_ptr<CURL, EasyFree> easy{curl_easy_init()};
    std::unique_ptr<curl_slist, ListFree> headers;
    std::unique_ptr<std::FILE, FileClose> file;
    HttpResponse response;
    bool tooLarge = false;
    bool writeFailed = false;
    bool stalled = false;
    std::int64_t lastReported = -1;
    // libcurl's own low-speed check averages over several seconds, so a burst then silence
    // would run well past the limit. The clock starts once the request has gone out: a transfer
    // that waits its turn for a connection is not silent, and its connecting has its own limit.
    std::optional<std::chrono::steady_clock::time_point> lastData;

    static std::size_t write(char* data, std::size_t size, std::size_t count, void* self) {
        auto& transfer = *static_cast<Transfer*>(self);
        const std::size_t bytes = size * count;
        if (transfer.response.bytes + static_cast<std::int64_t>(bytes) > transfer.options.maxBytes) {
            transfer.tooLarge = true;
            return 0;
        }
        if (transfer.file) {
            if (std::fwrite(data, 1, bytes, transfer.file.get()) != bytes) {
                transfer.writeFailed = true;
                return 0;
            }
        } else {
            transfer.response.body.append(data, bytes);
        }
        transfer.response.bytes += static_cast<std::int64_t>(bytes);
        transfer.lastData = std::chrono::steady_clock::now();
        return bytes;
    }

    // Keeps the headers of the last response only: a redirect's are replaced by its target's.
    static std::size_t header(char* data, std::size_t size, std::size_t count, void* self) {
        static_cast<Transfer*>(self)->lastData = std::chrono::steady_clock::now();
        auto& headers = static_cast<Transfer*>(self)->response.headers;
        const std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            headers.clear();
        } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
            headers[lowerCase(trimmed(line.substr(0, colon)))] = trimmed(line.substr(colon + 1));
        }
        return size * count;
    }

    // Connections close on exec, which curl's own sockets do not.
    static curl_socket_t openSocket(void*, curlsocktype, curl_sockaddr* address) {
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    static int progressed(void* self, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t) {
        auto& transfer = *static_cast<Transfer*>(self);
        if (transfer.options.abandon && transfer.options.abandon->load()) return 1;
        const auto now = std::chrono::steady_clock::now();
        if (!transfer.lastData && transfer.requestSent()) transfer.lastData = now;
        if (transfer.lastData && now - *transfer.lastData > transfer.options.stalledAfter) {
            transfer.stalled = true;
            return 1;
        }
        if (transfer.progress && received != transfer.lastReported) {
            transfer.lastReported = received;
            transfer.progress(received, total);
        }
        return 0;
    }

    bool requestSent() const {
        curl_off_t sentAfter = 0;
        return curl_easy_getinfo(easy.get(), CURLINFO_PRETRANSFER_TIME_T, &sentAfter) == CURLE_OK && sentAfter > 0;
    }

    bool configure(const std::string& url) {
        CURL* handle = easy.get();
        if (!handle) return false;
        for (const char* line : {"Cache-Control: no-cache", "Pragma: no-cache"}) headers.reset(curl_slist_append(headers.release(), line));
        for (const auto& [name, value] : options.requestHeaders) {
            headers.reset(curl_slist_append(headers.release(), (name + ": " + value).c_str()));
        }
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(options.maxTime.count()));
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::chrono::milliseconds(options.stalledAfter).count()));
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
        if (options.caFile) {
            curl_easy_setopt(handle, CURLOPT_CAINFO, options.caFile->c_str());
            curl_easy_setopt(handle, CURLOPT_CAPATH, "/etc/ssl/certs");
        }
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Transfer::write);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &Transfer::header);
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &Transfer::progressed);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(handle, CURLOPT_PRIVATE, this);
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &Transfer::openSocket);
        if (options.file) {
            file.reset(std::fopen(options.file->c_str(), "wbxe"));
            if (!file) return false;
        }
        return true;
    }

    void discardFile() {
        if (!options.file) return;
        file.reset();
        std::error_code ignored;
        std::filesystem::remove(*options.file, ignored);
    }
};

namespace {

HttpResponse stoppedResponse() {
    HttpResponse response;
    response.transportError = "the service is stopping";
    return response;
}

}  // namespace

HttpTransfers::HttpTransfers(long maxConnectionsPerHost) {
    static std::once_flag initialized;
    std::call_once(initialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    multi_ = curl_multi_init();
    closeAllOnExec();  // the multi handle's wake-up pair is opened inheritable
    curl_multi_setopt(multiOf(multi_), CURLMOPT_MAX_HOST_CONNECTIONS, maxConnectionsPerHost);
    thread_ = std::thread([this] { run(); });
}

HttpTransfers::~HttpTransfers() {
    stop();
    curl_multi_cleanup(multiOf(multi_));
}

void HttpTransfers::stop() {
    {
        std::lock_guard lock(commandsMutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    curl_multi_wakeup(multiOf(multi_));
    thread_.join();
    for (auto& [id, transfer] : running_) {
        curl_multi_remove_handle(multiOf(multi_), transfer->easy.get());
        transfer->discardFile();
        if (transfer->finished) transfer->finished(stoppedResponse());
    }
    running_.clear();
    std::vector<Command> queued;
    {
        std::lock_guard lock(commandsMutex_);
        queued.swap(commands_);
    }
    for (auto& command : queued) {
        if (!command.start) continue;
        command.start->discardFile();
        if (command.start->finished) command.start->finished(stoppedResponse());
    }
}

HttpTransfers::Id HttpTransfers::start(std::string url, Options options, Progress progress, Finished finished) {
    auto transfer = std::make_unique<Transfer>();
    transfer->options = std::move(options);
    transfer->progress = std::move(progress);
    transfer->finished = std::move(finished);
    const bool ready = transfer->configure(url);
    Id id = 0;
    bool stopped = false;
    {
        std::lock_guard lock(commandsMutex_);
        id = ++nextId_;
        transfer->id = id;
        stopped = stopping_;
        if (ready && !stopped) commands_.push_back({std::move(transfer), 0});
    }
    if (!ready || stopped) {
        HttpResponse failed = stoppedResponse();
        if (!stopped) failed.transportError = transfer->easy ? "cannot write the file" : "cannot create an HTTP handle";
        transfer->discardFile();
        if (transfer->finished) transfer->finished(std::move(failed));
        return id;
    }
    curl_multi_wakeup(multiOf(multi_));
    return id;
}

void HttpTransfers::cancel(Id id) {
    {
        std::lock_guard lock(commandsMutex_);
        commands_.push_back({nullptr, id});
    }
    curl_multi_wakeup(multiOf(multi_));
}

HttpResponse HttpTransfers::get(std::string url, Options options) {
    auto answer = std::make_shared<std::promise<HttpResponse>>();
    auto future = answer->get_future();
    start(std::move(url), std::move(options), {}, [answer](HttpResponse response) { answer->set_value(std::move(response)); });
    return future.get();
}

bool HttpTransfers::isWellFormedUrl(const std::string& url) {
    CURLU* parsed = curl_url();
    const bool wellFormed = parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    curl_url_cleanup(parsed);
    return wellFormed;
}

void HttpTransfers::run() {
    pthread_setname_np(pthread_self(), "HttpTransfers");
    while (true) {
        std::vector<Command> commands;
        {
            std::lock_guard lock(commandsMutex_);
            if (stopping_) return;
            commands.swap(commands_);
        }
        take(std::move(commands));
        int active = 0;
        curl_multi_perform(multiOf(multi_), &active);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multiOf(multi_), &queued)) {
            if (message->msg == CURLMSG_DONE) finish(message->easy_handle, message->data.result);
        }
        // A running transfer's stall is judged at least once a second; without one, only a
        // command (which wakes the poll) has anything to do.
        constexpr int kTransferringMs = 1000;
        constexpr int kIdleMs = 24 * 3600 * 1000;
        curl_multi_poll(multiOf(multi_), nullptr, 0, running_.empty() ? kIdleMs : kTransferringMs, nullptr);
    }
}

void HttpTransfers::take(std::vector<Command> commands) {
    for (auto& command : commands) {
        if (command.start) {
            curl_multi_add_handle(multiOf(multi_), command.start->easy.get());
            running_.emplace(command.start->id, std::move(command.start));
            continue;
        }
        const auto found = running_.find(command.cancel);
        if (found == running_.end()) continue;
        curl_multi_remove_handle(multiOf(multi_), found->second->easy.get());
        found->second->discardFile();
        running_.erase(found);
    }
}

void HttpTransfers::finish(void* easy, int result) {
    Transfer* done = nullptr;
    curl_easy_getinfo(static_cast<CURL*>(easy), CURLINFO_PRIVATE, &done);
    const auto found = running_.find(done ? done->id : 0);
    if (found == running_.end()) return;
    std::unique_ptr<Transfer> transfer = std::move(found->second);
    running_.erase(found);
    curl_multi_remove_handle(multiOf(multi_), transfer->easy.get());
    HttpResponse response = std::move(transfer->response);
    curl_easy_getinfo(transfer->easy.get(), CURLINFO_RESPONSE_CODE, &response.status);
    if (transfer->stalled) {
        response.transportError = "no data for " + std::to_string(transfer->options.stalledAfter.count()) + " s";
    } else if (transfer->tooLarge) {
        response.transportError = "the body is larger than " + std::to_string(transfer->options.maxBytes) + " bytes";
    } else if (transfer->writeFailed) {
        response.transportError = "the body could not be written";
    } else if (result != CURLE_OK) {
        response.transportError = curl_easy_strerror(static_cast<CURLcode>(result));
    }
    if (response.transportError) {
        transfer->discardFile();
    } else if (transfer->file && std::fclose(transfer->file.release()) != 0) {
        response.transportError = "the body could not be written";
    }
    if (transfer->finished) transfer->finished(std::move(response));
}

}  // namespace kv
