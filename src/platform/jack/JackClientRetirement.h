#pragma once

#include <chrono>
#include <memory>

typedef struct _jack_client jack_client_t;

namespace kv {

// Ends a libjack client whose callbacks use `owner`. A client whose server went away, or whose
// server's socket no longer answers, is never closed (libjack crashes closing one once a new
// server has taken the old one's place) and stays with the process. Otherwise it is closed, and
// the wait is bounded: libjack can deadlock closing a client whose server dies at that moment,
// and a close that takes longer keeps `owner` alive on a thread of its own.
void retireJackClient(std::shared_ptr<void> owner, jack_client_t* handle, bool serverGone,
                      std::chrono::seconds bound = std::chrono::seconds(2));

// The same for an object that closes its libjack clients as it is destroyed (a MIDI library's):
// destroyed on a thread of its own, waited for at most `bound`.
void retireJackOwner(std::shared_ptr<void> owner, std::chrono::seconds bound = std::chrono::seconds(2));

}  // namespace kv
