#pragma once

#include <string>
#include <vector>

namespace kv {

// One part of a diagnosis: what it found, in plain words, and whether a lesson can run with it.
struct DoctorSection {
    enum class Verdict { ok, note, problem };

    explicit DoctorSection(std::string sectionTitle) : title(std::move(sectionTitle)) {}

    std::string title;
    Verdict verdict = Verdict::ok;
    std::vector<std::string> lines;

    void say(std::string line) { lines.push_back(std::move(line)); }
    // Something to know; a lesson runs all the same.
    void note(std::string line) {
        if (verdict == Verdict::ok) verdict = Verdict::note;
        say(std::move(line));
    }
    // What keeps a lesson from running.
    void problem(std::string line) {
        verdict = Verdict::problem;
        say(std::move(line));
    }
};

}  // namespace kv
