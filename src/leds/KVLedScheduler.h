#pragma once

#include "base/DateText.h"
#include "base/SharedObject.h"
#include "leds/KVLedNote.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kv {

class KVLedController;

// Lights the keys the student is to play, in time with the song, from a worker thread that
// rescans the plan every 5 ms, and at once when the next light is due sooner.
class KVLedScheduler {
public:
    static constexpr auto kTick = std::chrono::milliseconds(5);
    static constexpr auto kPortPoll = std::chrono::milliseconds(50);

    static KVLedScheduler& shared() { return Shared<KVLedScheduler>::get(); }

    explicit KVLedScheduler(KVLedController& controller);
    ~KVLedScheduler();
    KVLedScheduler(const KVLedScheduler&) = delete;
    KVLedScheduler& operator=(const KVLedScheduler&) = delete;

    // Staff 0 lights colour 1, every other staff colour 0.
    static int colorForStaff(std::int32_t staff);
    // The entries of `ledNotes` on keys 21 to 108, with their windows made sensible.
    static std::vector<KVLedNote> parsePlan(const nlohmann::json& ledNotes);

    void parseAndSetPlanFromJson(const nlohmann::json& ledNotes, double playStartTimeMs);
    void setPlan(const std::vector<KVLedNote>& plan, double playStartTimeMs);
    void startAtUtc(Date start);
    // Ends the worker and puts every light out; the plan stays.
    void stop();
    void applyStaticLeds(const nlohmann::json& leds);
    // From a start until stop, also after the plan has played out.
    bool isRunning() const { return run_; }

private:
    using Plan = std::vector<KVLedNote>;
    using SteadyTime = std::chrono::steady_clock::time_point;
    struct Scan {
        bool finished = false;
        double nextChangeMs = 0;  // plan time of the next light due to change
    };

    void stopWorker();
    void workerLoop(std::uint64_t generation, SteadyTime start);
    Scan scanAndLight(double nowMs);
    bool keepRunning(std::uint64_t generation) const;
    void sleepUntil(std::uint64_t generation, SteadyTime wake);

    KVLedController& controller_;
    std::mutex lock_;  // guards plan_, startUtc_, scanFrom_
    std::shared_ptr<const Plan> plan_;
    std::optional<Date> startUtc_;
    std::size_t scanFrom_ = 0;
    std::atomic<bool> run_{false};
    // A worker left behind by stop() still sees that it is no longer the current one.
    std::atomic<std::uint64_t> generation_{0};
    std::mutex control_;  // one start or stop at a time, from the main and playback threads
    std::thread worker_;
    std::shared_ptr<std::atomic<bool>> workerFinished_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
};

}  // namespace kv
