#include "platform/dispatch/ThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kv {

namespace {
// Below the audio threads of JACK and PulseAudio, which run at 70 and above.
constexpr int kFifoPriority = 40;
constexpr int kNice = -10;
}  // namespace

std::string raiseCurrentThreadPriority() {
    sched_param parameter{};
    parameter.sched_priority = kFifoPriority;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter) == 0) return "SCHED_FIFO 40";
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    if (setpriority(PRIO_PROCESS, thread, kNice) == 0) return "nice -10";
    return "default";
}

void nameCurrentThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

}  // namespace kv
