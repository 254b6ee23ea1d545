#include "ReceivedPrinter.h"

#include "HexText.h"

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
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    printer_.join();
}

void ReceivedPrinter::record(std::uint64_t monotonicNs, const std::vector<unsigned char>& message) {
    std::lock_guard lock(mutex_);
    waiting_.push_back({monotonicNs, message});
}

// Polled rather than woken: the process thread makes no system call for a message.
void ReceivedPrinter::run() {
    std::vector<Received> taken;
    for (bool last = false; !last;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        {
            std::lock_guard lock(mutex_);
            last = stopping_;
            taken.swap(waiting_);
        }
        printAll(taken);
        taken.clear();
    }
}

void ReceivedPrinter::printAll(const std::vector<Received>& received) const {
    for (const auto& [ns, bytes] : received) {
        const std::string time = std::to_string(ns);
        if (decodeLeds_ && isLedMessage(bytes)) {
            const int state = bytes[6];
            printLine_(time + " key " + std::to_string(bytes[5]) + " colour " + std::to_string(state >> 4) +
                       ((state & 0x0F) ? " on" : " off"));
        } else {
            printLine_(time + " sysex " + std::to_string(bytes.size()) + " " + hexText(bytes));
        }
    }
}
