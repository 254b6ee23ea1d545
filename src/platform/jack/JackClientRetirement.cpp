#include "platform/jack/JackClientRetirement.h"

#include "platform/jack/JackServerWatch.h"

#include <jack/jack.h>

#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace kv {

namespace {

void keepForTheProcess(std::shared_ptr<void> owner) {
    static std::mutex mutex;
    static std::vector<std::shared_ptr<void>> kept;
    std::lock_guard lock(mutex);
    kept.push_back(std::move(owner));
}

// The work runs on a thread of its own, waited for at most `bound`; what takes longer goes on.
void runBounded(std::function<void()> work, std::chrono::seconds bound) {
    std::promise<void> finished;
    auto done = finished.get_future();
    std::thread([work = std::move(work), finished = std::move(finished)]() mutable {
        work();
        finished.set_value();
    }).detach();
    done.wait_for(bound);
}

}  // namespace

void retireJackClient(std::shared_ptr<void> owner, jack_client_t* handle, bool serverGone, std::chrono::seconds bound) {
    if (serverGone || !jackServerRunning()) return keepForTheProcess(std::move(owner));
    runBounded([owner = std::move(owner), handle] { jack_client_close(handle); }, bound);
}

// libjack's close also takes the lock of its metadata store, shared by every JACK program of the
// user: one that died holding it blocks every close after, for ever.
void retireJackOwner(std::shared_ptr<void> owner, std::chrono::seconds bound) {
    runBounded([owner = std::move(owner)]() mutable { owner.reset(); }, bound);
}

}  // namespace kv
