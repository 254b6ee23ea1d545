#include "platform/jack/JackClientRetirement.h"

#include "platform/jack/JackServerWatch.h"

#include <jack/jack.h>

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

}  // namespace

void retireJackClient(std::shared_ptr<void> owner, jack_client_t* handle, bool serverGone, std::chrono::seconds bound) {
    if (serverGone || !jackServerRunning()) return keepForTheProcess(std::move(owner));
    std::promise<void> closed;
    auto done = closed.get_future();
    std::thread([owner = std::move(owner), handle, closed = std::move(closed)]() mutable {
        jack_client_close(handle);
        closed.set_value();
    }).detach();
    done.wait_for(bound);
}

// libjack's close also takes the lock of its metadata store, shared by every JACK program of the
// user: one that died holding it blocks every close after, for ever.
void retireJackOwner(std::shared_ptr<void> owner, std::chrono::seconds bound) {
    std::promise<void> closed;
    auto done = closed.get_future();
    std::thread([owner = std::move(owner), closed = std::move(closed)]() mutable {
        owner.reset();
        closed.set_value();
    }).detach();
    done.wait_for(bound);
}

}  // namespace kv
