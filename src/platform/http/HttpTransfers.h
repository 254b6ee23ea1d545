#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kv {

struct HttpResponse {
    long status = 0;
    std::string body;                            // a transfer into memory
    std::int64_t bytes = 0;                      // received
    std::map<std::string, std::string> headers;  // names in lower case
    std::optional<std::string> transportError;   // set when no whole HTTP answer came
    // A response header, found without regard to case.
    std::optional<std::string> headerValue(const std::string& name) const;
};

// The service's HTTP GETs, all on one thread ("HttpTransfers") through libcurl's multi
// interface: many transfers at once, at most a few connections to one host (the rest wait their
// turn), bodies into memory or streamed to a file, redirects followed over http and https only,
// certificates verified.
class HttpTransfers {
public:
    struct Options {
        std::chrono::milliseconds maxTime{300'000};         // the whole transfer
        std::chrono::seconds stalledAfter{30};              // without a byte
        std::int64_t maxBytes = 64 * 1024 * 1024;           // a larger body fails the transfer
        std::map<std::string, std::string> requestHeaders;
        std::optional<std::string> caFile;                  // trusted besides the system's
        std::optional<std::filesystem::path> file;          // the body goes here, else into memory
        const std::atomic<bool>* abandon = nullptr;         // the transfer stops soon after it turns true
    };
    // On the transfers' thread: bytes received and announced (0 when unknown).
    using Progress = std::function<void(std::int64_t received, std::int64_t expected)>;
    // On the transfers' thread, once per transfer that was not cancelled.
    using Finished = std::function<void(HttpResponse response)>;
    using Id = std::uint64_t;

    explicit HttpTransfers(long maxConnectionsPerHost = 3);
    ~HttpTransfers();
    HttpTransfers(const HttpTransfers&) = delete;
    HttpTransfers& operator=(const HttpTransfers&) = delete;

    // Any thread.
    Id start(std::string url, Options options, Progress progress, Finished finished);
    // Any thread: the transfer ends without its Finished; a file it was writing is removed.
    void cancel(Id id);
    // Ends every transfer, running or queued, with an error; later ones end at once the same way.
    void stop();
    // Blocks the calling thread (never the transfers' own) until the transfer ends.
    HttpResponse get(std::string url, Options options);
    // Whether libcurl reads the text as a URL at all.
    static bool isWellFormedUrl(const std::string& url);

private:
    struct Transfer;
    struct Command {
        std::unique_ptr<Transfer> start;
        Id cancel = 0;
    };

    void run();
    void take(std::vector<Command> commands);
    void finish(void* easy, int result);

    void* multi_;
    std::mutex commandsMutex_;
    std::vector<Command> commands_;
    bool stopping_ = false;  // under commandsMutex_
    Id nextId_ = 0;          // under commandsMutex_
    std::map<Id, std::unique_ptr<Transfer>> running_;  // the thread's own
    std::thread thread_;     // last: it runs on everything above
};

}  // namespace kv
