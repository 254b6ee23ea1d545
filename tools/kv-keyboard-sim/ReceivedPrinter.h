#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Prints what the input port receives, away from the MIDI library's process thread. A reader
// that writes to a pipe in that thread falls a cycle behind when a burst comes on a loaded
// machine, and the JACK server then lets the sender reuse the buffer the reader is still reading.
class ReceivedPrinter {
public:
    ReceivedPrinter(bool decodeLeds, std::function<void(const std::string&)> printLine);
    // Prints what is still waiting.
    ~ReceivedPrinter();
    ReceivedPrinter(const ReceivedPrinter&) = delete;
    ReceivedPrinter& operator=(const ReceivedPrinter&) = delete;

    // On the process thread: keeps the message with the moment it came.
    void record(std::uint64_t monotonicNs, const std::vector<unsigned char>& message);

private:
    struct Received {
        std::uint64_t monotonicNs = 0;
        std::vector<unsigned char> bytes;
    };

    void run();
    void printAll(const std::vector<Received>& received) const;

    const bool decodeLeds_;
    const std::function<void(const std::string&)> printLine_;
    std::mutex mutex_;
    std::vector<Received> waiting_;
    bool stopping_ = false;
    std::thread printer_;
};
