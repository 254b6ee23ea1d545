#include "leds/KVLedScheduler.h"

#include "base/Console.h"
#include "base/HostClock.h"
#include "base/JsonReading.h"
#include "base/TextFormat.h"
#include "leds/KVLedController.h"
#include "platform/dispatch/ThreadPriority.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

namespace kv {

namespace {

using Milliseconds = std::chrono::duration<double, std::milli>;
using Wanted = std::array<std::array<bool, 2>, 128>;

bool onKeyboard(std::int32_t note) {
    return note >= KVLedController::kLowestKey && note <= KVLedController::kHighestKey;
}

void lightExactly(KVLedController& controller, const Wanted& want) {
    for (int note = KVLedController::kLowestKey; note <= KVLedController::kHighestKey; ++note) {
        for (int color = 0; color < 2; ++color) {
            controller.setLed(note, color, want[static_cast<std::size_t>(note)][static_cast<std::size_t>(color)] ? 1 : 0);
        }
    }
}

}  // namespace

KVLedScheduler::KVLedScheduler(KVLedController& controller)
    : controller_(controller), worker_([this](std::stop_token stop) { workerLoop(stop); }) {}

KVLedScheduler::~KVLedScheduler() {
    worker_.request_stop();
    worker_.join();
}

int KVLedScheduler::colorForStaff(std::int32_t staff) {
    return staff == 0 ? 1 : 0;
}

std::vector<KVLedNote> KVLedScheduler::parsePlan(const nlohmann::json& ledNotes) {
    std::vector<KVLedNote> plan;
    if (!ledNotes.is_array()) return plan;
    for (const auto& element : ledNotes) {
        if (!element.is_object()) continue;
        KVLedNote entry;
        entry.note = json_reading::readInt32(element, "note").value_or(0);
        if (!onKeyboard(entry.note)) continue;
        entry.staff = json_reading::readInt32(element, "staff").value_or(0);
        entry.flashFrom = json_reading::readDouble(element, "flashFrom").value_or(0);
        entry.time = json_reading::readDouble(element, "time").value_or(0);
        entry.offTime = json_reading::readDouble(element, "offTime").value_or(0);
        if (entry.offTime <= entry.time) entry.offTime = entry.time + 1.0;
        if (entry.flashFrom > entry.time) entry.flashFrom = entry.time;
        plan.push_back(entry);
    }
    return plan;
}

void KVLedScheduler::parseAndSetPlanFromJson(const nlohmann::json& ledNotes, double playStartTimeMs) {
    const auto plan = parsePlan(ledNotes);
    consoleLine(formatText("[LED-SCHED] parse plan: %lu note (playStartTimeMs=%.1f)",
                           static_cast<unsigned long>(plan.size()), playStartTimeMs));
    setPlan(plan, playStartTimeMs);
}

void KVLedScheduler::setPlan(const std::vector<KVLedNote>& plan, double playStartTimeMs) {
    auto shifted = std::make_shared<Plan>(plan);
    for (auto& entry : *shifted) {
        entry.flashFrom -= playStartTimeMs;
        entry.time -= playStartTimeMs;
        entry.offTime -= playStartTimeMs;
    }
    std::sort(shifted->begin(), shifted->end(),
              [](const KVLedNote& a, const KVLedNote& b) { return a.flashFrom < b.flashFrom; });
    {
        std::lock_guard lock(lock_);
        plan_ = std::move(shifted);
        scanFrom_ = 0;
        replanned_ = true;
    }
    wake_.notify_all();  // a running plan's worker sleeps until the old plan's next change
}

void KVLedScheduler::startAtHostTime(std::uint64_t start) {
    stop();
    bool hasPlan = false;
    {
        std::lock_guard lock(lock_);
        startHost_ = start;
        scanFrom_ = 0;
        hasPlan = plan_ && !plan_->empty();
    }
    if (!hasPlan) {
        consoleLine("[LED-SCHED] startAtUtc: chua co plan -> bo qua");
        return;
    }
    if (!controller_.isOpen()) {
        consoleLine("[LED-SCHED] startAtUtc: LED port chua mo -> bo qua");
        return;
    }
    run_ = true;
    {
        std::lock_guard lock(lock_);
        playing_ = true;
    }
    wake_.notify_all();
}

void KVLedScheduler::stop() {
    run_ = false;
    {
        std::lock_guard lock(lock_);
        playing_ = false;
        startHost_.reset();
    }
    wake_.notify_all();
    std::lock_guard tick(tickMutex_);  // a tick in progress has set its lights
    controller_.allOff();
}

void KVLedScheduler::applyStaticLeds(const nlohmann::json& leds) {
    if (run_) {
        consoleLine("[LED-SCHED] applyStaticLeds: worker theo thoi gian DANG CHAY -> bo qua (nghi sai wiring)");
        return;
    }
    Wanted want{};
    if (leds.is_array()) {
        for (const auto& element : leds) {
            if (!element.is_object()) continue;
            const std::int32_t note = json_reading::readInt32(element, "note").value_or(0);
            if (!onKeyboard(note)) continue;
            const int color = colorForStaff(json_reading::readInt32(element, "staff").value_or(0));
            want[static_cast<std::size_t>(note)][static_cast<std::size_t>(color)] = true;
        }
    }
    lightExactly(controller_, want);
}

bool KVLedScheduler::connectKeyboard(const std::string& rawName, const AlikeKeyboard& alike) {
    if (!controller_.openPortWithRawName(rawName, alike)) return false;
    {
        std::lock_guard lock(lock_);
        allOffOwed_ = true;
    }
    wake_.notify_all();
    return true;
}

void KVLedScheduler::disconnectKeyboard() {
    controller_.closePort();
}

void KVLedScheduler::loseMidiSystem() {
    controller_.dropOutput();
}

void KVLedScheduler::workerLoop(std::stop_token stop) {
    nameCurrentThread("KVLedScheduler");
    raiseCurrentThreadPriority();
    std::unique_lock lock(lock_);
    while (!stop.stop_requested()) {
        if (std::exchange(allOffOwed_, false)) {
            lock.unlock();
            {
                std::lock_guard tick(tickMutex_);
                controller_.forceAllOff();
            }
            lock.lock();
            continue;
        }
        if (!playing_) {
            wake_.wait(lock, stop, [this] { return playing_ || allOffOwed_; });
            continue;
        }
        lock.unlock();
        const auto sleep = tick();
        lock.lock();
        wake_.wait_for(lock, stop, sleep,
                       [this] { return !playing_ || allOffOwed_ || std::exchange(replanned_, false); });
    }
}

std::chrono::nanoseconds KVLedScheduler::tick() {
    std::lock_guard tick(tickMutex_);
    std::optional<std::uint64_t> start;
    {
        std::lock_guard lock(lock_);
        if (!playing_) return {};
        start = startHost_;
    }
    if (!controller_.isOpen() || !start) return kPortPoll;  // an unplugged keyboard: wait for it
    const std::uint64_t now = host_clock::now();
    const double nowMs = static_cast<double>(static_cast<std::int64_t>(now - *start)) / 1e6;
    const Scan scan = scanAndLight(nowMs);
    if (scan.finished) {
        consoleLine("[LED-SCHED] het plan -> tat den, dung worker");
        controller_.allOff();
        std::lock_guard lock(lock_);
        playing_ = false;  // run_ stays set until stop()
        return {};
    }
    // A plan's times come from a request: a change a year away is slept towards a minute at a time.
    const double untilDue = std::clamp(scan.nextChangeMs - nowMs, 0.0, 60'000.0);
    return std::chrono::nanoseconds(static_cast<std::int64_t>(untilDue * 1e6));
}

KVLedScheduler::Scan KVLedScheduler::scanAndLight(double nowMs) {
    std::shared_ptr<const Plan> plan;
    std::size_t scanFrom = 0;
    {
        std::lock_guard lock(lock_);
        if (!plan_) return {false, nowMs + Milliseconds(kPortPoll).count()};
        plan = plan_;
        scanFrom = scanFrom_;
    }
    Wanted want{};
    bool pending = false;
    bool doneSoFar = true;
    double next = std::numeric_limits<double>::infinity();
    for (std::size_t i = scanFrom; i < plan->size(); ++i) {
        const KVLedNote& entry = (*plan)[i];
        if (entry.flashFrom > nowMs) {
            pending = true;
            next = std::min(next, entry.flashFrom);
            break;
        }
        if (nowMs >= entry.offTime) {
            if (doneSoFar) scanFrom = i + 1;
            continue;
        }
        doneSoFar = false;
        pending = true;
        if (nowMs < entry.time) {
            next = std::min(next, entry.time);
            continue;
        }
        want[static_cast<std::size_t>(entry.note)][static_cast<std::size_t>(colorForStaff(entry.staff))] = true;
        next = std::min(next, entry.offTime);
    }
    {
        std::lock_guard lock(lock_);
        // A plan installed meanwhile starts its own scan from the beginning.
        if (plan_ == plan) scanFrom_ = scanFrom;
    }
    lightExactly(controller_, want);
    return {!pending && scanFrom >= plan->size(), next};
}

}  // namespace kv
