// A keyboard without hardware: plays notes on a MIDI output port and prints what its input port
// of the same name receives, with CLOCK_MONOTONIC timestamps. See the README.
#include "HexText.h"
#include "ReceivedPrinter.h"

#include "platform/midi/JackMidiInput.h"
#include "platform/midi/MidiError.h"

#include <rtmidi/RtMidi.h>

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    std::string name = "KV Keyboard";
    RtMidi::Api api = RtMidi::UNSPECIFIED;
    bool decodeLeds = false;
    bool commandsFromStdin = false;
    std::vector<std::string> play;  // note:velocity:ms
    std::string script;
};

std::atomic<bool> stopping{false};
std::mutex outputMutex;

std::uint64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ULL + static_cast<std::uint64_t>(now.tv_nsec);
}

void printLine(const std::string& line) {
    std::lock_guard lock(outputMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class Keyboard {
public:
    explicit Keyboard(const Options& options) : received_(options.decodeLeds, &printLine), out_(options.api, options.name) {
        out_.openVirtualPort(options.name);
        if (options.api == RtMidi::UNIX_JACK) {
            jackIn_ = std::make_unique<kv::JackMidiInput>(options.name, options.name, received_.ring(), [this] { received_.wake(); });
            received_.watchLosses([this] { return jackIn_->lostMessages(); });
            return;
        }
        alsaIn_ = std::make_unique<RtMidiIn>(options.api, options.name, 100000);
        alsaIn_->ignoreTypes(false, true, true);
        alsaIn_->setCallback(&onReceive, &received_);
        alsaIn_->openVirtualPort(options.name);
    }

    // The MIDI library frees its JACK output buffer before closing its client, while the process
    // thread may still read it: close the port, let a running cycle end, then destroy.
    ~Keyboard() {
        out_.closePort();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    void send(std::vector<unsigned char> bytes) {
        const std::uint64_t now = monotonicNs();
        out_.sendMessage(&bytes);
        if (bytes.size() <= 3) printLine(std::to_string(now) + " sent " + hexText(bytes));
    }

    void key(int note, int velocity) {
        send({static_cast<unsigned char>(velocity > 0 ? 0x90 : 0x80), static_cast<unsigned char>(note & 0x7F),
              static_cast<unsigned char>(velocity & 0x7F)});
    }

    void sysex(std::size_t size) {
        std::vector<unsigned char> bytes(std::max<std::size_t>(size, 2), 0x11);
        bytes.front() = 0xF0;
        bytes.back() = 0xF7;
        send(std::move(bytes));
        printLine(std::to_string(monotonicNs()) + " sent sysex " + std::to_string(size));
    }

    // `rate` key presses and releases a second, round the keyboard, for `seconds`.
    void flood(double rate, double seconds) {
        const auto start = std::chrono::steady_clock::now();
        const auto count = static_cast<long>(rate * seconds);
        for (long i = 0; i < count && !stopping; ++i) {
            std::this_thread::sleep_until(start + std::chrono::duration<double>(i / rate));
            const auto note = static_cast<unsigned char>(21 + i % 88);
            const unsigned char press[] = {0x90, note, 64};
            const unsigned char release[] = {0x80, note, 0};
            out_.sendMessage(press, sizeof press);
            out_.sendMessage(release, sizeof release);
        }
        printLine(std::to_string(monotonicNs()) + " flood done " + std::to_string(count));
    }

private:
    // The MIDI library's thread: a copy into the ring, no lock, no allocation.
    static void onReceive(double, std::vector<unsigned char>* message, void* received) {
        if (!message || message->empty()) return;
        auto& printer = *static_cast<ReceivedPrinter*>(received);
        if (printer.ring().push(message->data(), message->size(), monotonicNs())) printer.wake();
    }

    ReceivedPrinter received_;  // outlives the inputs that fill it
    RtMidiOut out_;
    std::unique_ptr<kv::JackMidiInput> jackIn_;
    std::unique_ptr<RtMidiIn> alsaIn_;
};

struct TimedKey {
    int note = 0;
    int velocity = 0;
    double ms = 0;
};

void playAll(Keyboard& keyboard, const std::vector<TimedKey>& keys) {
    const auto start = std::chrono::steady_clock::now();
    for (const auto& key : keys) {
        if (stopping) return;
        std::this_thread::sleep_until(start + std::chrono::duration<double, std::milli>(key.ms));
        keyboard.key(key.note, key.velocity);
    }
}

std::vector<TimedKey> parsePlayArguments(const std::vector<std::string>& play) {
    std::vector<TimedKey> keys;
    for (std::string item : play) {
        for (char& c : item) c = c == ':' ? ' ' : c;
        std::istringstream fields(item);
        TimedKey key;
        if (fields >> key.note >> key.velocity) {
            fields >> key.ms;
            keys.push_back(key);
        }
    }
    return keys;
}

// Lines "note velocity time" (time in ms from the start); # starts a comment.
std::vector<TimedKey> readScript(const std::string& path) {
    std::vector<TimedKey> keys;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        TimedKey key;
        if (fields >> key.note >> key.velocity >> key.ms) keys.push_back(key);
    }
    return keys;
}

// "<note> <velocity> [<delay ms>]", "sysex <size>", "flood <rate> <seconds>", "quit".
void runCommands(Keyboard& keyboard) {
    std::string line;
    while (!stopping && std::getline(std::cin, line)) {
        std::istringstream fields(line);
        std::string first;
        if (!(fields >> first)) continue;
        if (first == "quit") return;
        if (first == "sysex") {
            std::size_t size = 0;
            if (fields >> size) keyboard.sysex(size);
            continue;
        }
        if (first == "flood") {
            double rate = 0;
            double seconds = 0;
            if (fields >> rate >> seconds) keyboard.flood(rate, seconds);
            continue;
        }
        int velocity = 0;
        double delay = 0;
        if (!(fields >> velocity)) continue;
        fields >> delay;
        if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(delay));
        keyboard.key(std::atoi(first.c_str()), velocity);
    }
}

void usage() {
    std::cerr << "usage: kv-keyboard-sim [--name NAME] [--api jack|alsa] [--decode-leds]\n"
                 "                       [--play NOTE:VELOCITY:MS ...] [--script FILE] [--stdin]\n"
                 "Plays the keys given, then runs until interrupted (or until stdin ends with --stdin).\n"
                 "Prints: '<ns> sent <bytes>' per key, '<ns> sysex <size> <bytes>' per SysEx received,\n"
                 "and with --decode-leds '<ns> key 60 colour 0 on' per LED message (CLOCK_MONOTONIC ns).\n";
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--name" && hasValue) {
            options.name = argv[++i];
        } else if (argument == "--api" && hasValue) {
            const std::string api = argv[++i];
            options.api = api == "jack" ? RtMidi::UNIX_JACK : api == "alsa" ? RtMidi::LINUX_ALSA : RtMidi::UNSPECIFIED;
        } else if (argument == "--decode-leds") {
            options.decodeLeds = true;
        } else if (argument == "--stdin") {
            options.commandsFromStdin = true;
        } else if (argument == "--script" && hasValue) {
            options.script = argv[++i];
        } else if (argument == "--play") {
            while (i + 1 < argc && argv[i + 1][0] != '-') options.play.emplace_back(argv[++i]);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    // Closing stdin also ends a command read in progress. SIGTERM ends at once: it comes when the
    // program that started the keyboard has gone, maybe with the JACK server, where closing the
    // ports would wait for ever.
    std::signal(SIGINT, [](int) { stopping = true; close(STDIN_FILENO); });
    std::signal(SIGTERM, [](int) { _exit(0); });
    try {
        std::unique_ptr<Keyboard> made;
        // Without --api: the ALSA sequencer when it opens, else JACK, as the service chooses.
        if (options.api == RtMidi::UNSPECIFIED) {
            try {
                options.api = RtMidi::LINUX_ALSA;
                made = std::make_unique<Keyboard>(options);
            } catch (const RtMidiError&) {
                options.api = RtMidi::UNIX_JACK;
            } catch (const kv::MidiError&) {
                options.api = RtMidi::UNIX_JACK;
            }
        }
        if (!made) made = std::make_unique<Keyboard>(options);
        Keyboard& keyboard = *made;
        printLine(std::to_string(monotonicNs()) + " ready " + options.name);
        playAll(keyboard, parsePlayArguments(options.play));
        if (!options.script.empty()) playAll(keyboard, readScript(options.script));
        if (options.commandsFromStdin) {
            runCommands(keyboard);
            // Unplugged as a USB keyboard is: the server drops the client. Closing it would take
            // libjack's metadata lock, which a kill during the close would leave held for every
            // JACK program after.
            std::lock_guard lock(outputMutex);
            _exit(0);
        } else {
            while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    } catch (const RtMidiError& error) {
        std::cerr << error.getMessage() << "\n";
        return 1;
    } catch (const kv::MidiError& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    return 0;
}
