#include "ReceivedPrinter.h"

#include "HexText.h"

#include "base/HostClock.h"

#include <chrono>

namespace {

// F0 4D 4C 4C 45 <note> <colour × 16 + state> F7
bool isLedMessage(const std::vector<unsigned char>& m) {
    return m.size() == 8 && m[0] == 0xF0 && m[1] == 0x4D && m[2] == 0x4C && m[3] == 0x4C && m[4] == 0x45 &&
           m[7] == 0xF7;
}

}  // namespace

ReceivedPrinter::ReceivedPrinter(bool decodeLeds, std::function<void(const std::string&)> printLine)
    : decodeLeds_(decodeLeds), printLine_(std::move(printLine)), printer_([this] { run(); }) {}

ReceivedPrinter::~ReceivedPrinter() {
    stopping_ = true;
    waiting_.release();
    printer_.join();
}

// Woken by each cycle that brought messages, and now and then to look for lost ones.
void ReceivedPrinter::run() {
    std::vector<unsigned char> message;
    std::uint64_t arrival = 0;
    std::uint64_t lostPrinted = 0;
    for (bool last = false; !last;) {
        last = stopping_;
        waiting_.try_acquire_for(std::chrono::milliseconds(50));
        const std::uint64_t lost = lost_ ? lost_() : 0;
        if (lost > lostPrinted) {
            printLine_(std::to_string(kv::host_clock::now()) + " lost " + std::to_string(lost - lostPrinted));
            lostPrinted = lost;
        }
        while (ring_.pop(message, arrival)) print(arrival, message);
    }
}

void ReceivedPrinter::print(std::uint64_t monotonicNs, const std::vector<unsigned char>& bytes) const {
    const std::string time = std::to_string(monotonicNs);
    if (decodeLeds_ && isLedMessage(bytes)) {
        const int state = bytes[6];
        printLine_(time + " key " + std::to_string(bytes[5]) + " colour " + std::to_string(state >> 4) +
                   ((state & 0x0F) ? " on" : " off"));
    } else if (!bytes.empty() && bytes[0] == 0xF0) {
        printLine_(time + " sysex " + std::to_string(bytes.size()) + " " + hexText(bytes));
    }
}
