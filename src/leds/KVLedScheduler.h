#pragma once

#include "base/SharedObject.h"
#include "core/KeyboardLights.h"
#include "core/SongLights.h"
#include "leds/KVLedNote.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kv {

class KVLedController;

// Lights the keys the student is to play, in time with the song, and is the keyboards' way to
// the lights. One worker thread, "KVLedScheduler", lives as long as the scheduler: while a plan
// runs it wakes when the next light is due to change, and sleeps in between; it puts out a newly
// connected keyboard's lights; otherwise it sleeps. The plan runs on the host clock from its
// start. The service owns it.
class KVLedScheduler final : public KeyboardLights, public SongLights {
public:
    static constexpr auto kPortPoll = std::chrono::milliseconds(50);

    static KVLedScheduler& shared() { return Shared<KVLedScheduler>::get(); }

    explicit KVLedScheduler(KVLedController& controller);
    ~KVLedScheduler() override;
    KVLedScheduler(const KVLedScheduler&) = delete;
    KVLedScheduler& operator=(const KVLedScheduler&) = delete;

    // Staff 0 lights colour 1, every other staff colour 0.
    static int colorForStaff(std::int32_t staff);
    // The entries of `ledNotes` on keys 21 to 108, with their windows made sensible.
    static std::vector<KVLedNote> parsePlan(const nlohmann::json& ledNotes);

    void parseAndSetPlanFromJson(const nlohmann::json& ledNotes, double playStartTimeMs) override;
    void setPlan(const std::vector<KVLedNote>& plan, double playStartTimeMs);
    // Plan time 0 falls on the host time.
    void startAtHostTime(std::uint64_t start) override;
    // Ends the plan's run and puts every light out; the plan stays. A tick in progress finishes
    // first, so no light comes on after.
    void stop() override;
    void applyStaticLeds(const nlohmann::json& leds);
    bool connectKeyboard(const std::string& rawName, const AlikeKeyboard& alike) override;
    void disconnectKeyboard() override;
    void loseMidiSystem() override;
    // From a start until stop, also after the plan has played out.
    bool isRunning() const { return run_; }

private:
    using Plan = std::vector<KVLedNote>;
    struct Scan {
        bool finished = false;
        double nextChangeMs = 0;  // plan time of the next light due to change
    };

    void workerLoop(std::stop_token stop);
    // One tick of a running plan: the lights set, then how long to sleep until the next change.
    std::chrono::nanoseconds tick();
    Scan scanAndLight(double nowMs);

    KVLedController& controller_;
    std::mutex lock_;  // guards plan_, startHost_, scanFrom_, playing_, replanned_, allOffOwed_
    std::shared_ptr<const Plan> plan_;
    std::optional<std::uint64_t> startHost_;
    std::size_t scanFrom_ = 0;
    bool playing_ = false;  // the worker runs the plan
    bool replanned_ = false;  // a plan was set while the worker slept towards the last one's change
    // Every light of a keyboard just connected is to be put out, whatever it is known to show:
    // 176 messages, too many to send from the main queue.
    bool allOffOwed_ = false;
    std::atomic<bool> run_{false};
    std::mutex tickMutex_;  // held by the worker for a tick, and by stop() against one
    std::condition_variable_any wake_;
    std::jthread worker_;  // last: it runs on everything above
};

}  // namespace kv
