#include "stems/StemFiller.h"

#include <algorithm>

namespace kv {

StemFiller::StemFiller(AudioButler& butler) : butler_(butler), chore_(butler.addChore([this] { pass(); })) {}

StemFiller::~StemFiller() {
    butler_.removeChore(chore_);
}

void StemFiller::sync(const std::function<void()>& work) {
    const std::lock_guard lock(mutex_);
    work();
}

void StemFiller::fill(std::vector<std::shared_ptr<StemRenderer>> stems, std::function<void()> ended) {
    {
        const std::lock_guard lock(mutex_);
        stems_ = std::move(stems);
        ended_ = std::move(ended);
    }
    butler_.summon();  // the first top-up need not wait for a render to ask
}

void StemFiller::stopFilling() {
    fill({}, {});
}

void StemFiller::pass() {
    const std::lock_guard lock(mutex_);
    for (const auto& stem : stems_) stem->fill();
    if (stems_.empty() || !ended_) return;
    if (std::all_of(stems_.begin(), stems_.end(), [](const auto& stem) { return stem->hasEnded(); })) std::exchange(ended_, {})();
}

}  // namespace kv
