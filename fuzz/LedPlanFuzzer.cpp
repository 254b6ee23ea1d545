// libFuzzer: the LED plan of a prepare request, read and installed as the prepare does, the
// scheduler's worker running beside it. Built and run by `make fuzz`.
#include "base/JsonText.h"
#include "leds/KVLedController.h"
#include "leds/KVLedScheduler.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kv::KVLedController controller;
    static kv::KVLedScheduler scheduler(controller);
    std::optional<nlohmann::json> request;
    try {
        request = kv::JSONStringToDictionary({reinterpret_cast<const char*>(data), size});
    } catch (const std::runtime_error&) {
        return 0;  // the receive path refuses it before any flow
    }
    if (!request || !request->is_object()) return 0;
    const auto notes = request->find("ledNotes");
    const auto plan = kv::KVLedScheduler::parsePlan(notes != request->end() ? *notes : nlohmann::json());
    for (const auto& note : plan) {
        if (note.note < kv::KVLedController::kLowestKey || note.note > kv::KVLedController::kHighestKey) __builtin_trap();
        if (!std::isfinite(note.time) || !(note.flashFrom <= note.time && note.time <= note.offTime)) __builtin_trap();
    }
    const auto start = request->find("playStartTimeMs");
    scheduler.setPlan(plan, start != request->end() && start->is_number() ? start->get<double>() : 0.0);
    scheduler.startAtHostTime(0);
    scheduler.stop();
    return 0;
}
