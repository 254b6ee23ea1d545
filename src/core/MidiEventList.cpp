#include "core/MidiEventList.h"

#include "base/Log.h"

namespace kv {

bool MidiEventList::append(MidiEvent event) {
    bool logOverflow = false;
    {
        std::lock_guard lock(mutex_);
        if (events_.size() < kMaxEvents) {
            events_.push_back(std::move(event));
            return true;
        }
        logOverflow = !overflowLogged_;
        overflowLogged_ = true;
    }
    if (logOverflow) {
        logText(kLogError, "Played keys list is full (" + std::to_string(kMaxEvents) +
                               " events): further keys are dropped");
    }
    return false;
}

void MidiEventList::replaceWith(MidiEvent event) {
    std::lock_guard lock(mutex_);
    events_.clear();
    overflowLogged_ = false;
    events_.push_back(std::move(event));
}

std::vector<MidiEvent> MidiEventList::snapshot() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<MidiEvent> MidiEventList::takeAll() {
    std::lock_guard lock(mutex_);
    overflowLogged_ = false;
    return std::exchange(events_, {});
}

void MidiEventList::clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
    overflowLogged_ = false;
}

std::size_t MidiEventList::size() const {
    std::lock_guard lock(mutex_);
    return events_.size();
}

}  // namespace kv
