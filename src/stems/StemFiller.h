#pragma once

#include "audio/AudioButler.h"
#include "stems/StemRenderer.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kv {

// Tops up the playing stems' rings on the engine's butler, which their renders summon when a
// ring falls below half, and says once when every stem has played to its end. Arming and
// tear-down run under its lock, so they never meet a fill in progress.
class StemFiller {
public:
    explicit StemFiller(AudioButler& butler);
    ~StemFiller();
    StemFiller(const StemFiller&) = delete;
    StemFiller& operator=(const StemFiller&) = delete;

    // Runs the work while no fill runs, and waits for it.
    void sync(const std::function<void()>& work);
    // The stems filled from now on; `ended` is called on the butler once all have played out.
    void fill(std::vector<std::shared_ptr<StemRenderer>> stems, std::function<void()> ended);
    void stopFilling();

private:
    void pass();

    AudioButler& butler_;
    std::mutex mutex_;
    std::vector<std::shared_ptr<StemRenderer>> stems_;  // under mutex_
    std::function<void()> ended_;                        // under mutex_; emptied once called
    std::uint64_t chore_;                                // last: it runs on everything above
};

}  // namespace kv
