#include "midifile/MidiFileAnalysis.h"

#include "base/Numbers.h"
#include "midifile/GmInstrumentNames.h"
#include "midifile/TrackReader.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <cstring>
#include <vector>

namespace kv {

namespace {

constexpr double kFallbackDivision = 480;

struct TempoEvent {
    std::uint64_t tick;
    std::uint32_t microsPerQuarter;
};

struct MeterEvent {
    std::uint64_t tick;
    std::uint32_t numerator;
    double denominator;
};

// What the tracks say that the answer needs.
struct Findings {
    std::vector<TempoEvent> tempos;
    std::vector<MeterEvent> meters;
    std::bitset<16> noteChannels;
    std::array<int, 16> programs;  // -1: none recorded
};

struct Bar {
    double startQuarter;
    double barQuarters;
    double measuresBefore;
};

struct TempoPoint {
    double quarterPos;
    double bpm;
};

void recordProgram(Findings& findings, int channel, int program) {
    int& recorded = findings.programs[static_cast<std::size_t>(channel)];
    if (recorded < 0 || (recorded == 0 && program != 0)) recorded = program;  // the first non-zero wins
}

// False when the track ends inside the event.
bool readMeta(TrackReader& reader, std::uint64_t tick, bool smpte, Findings& findings) {
    if (reader.atEnd()) return false;
    const std::uint8_t type = reader.next();
    const auto length = reader.variableLength();
    if (!length) return false;
    if (type == 0x51 && *length == 3 && reader.has(3) && !smpte) {
        findings.tempos.push_back({tick, static_cast<std::uint32_t>(reader.at(0)) << 16 | reader.at(1) << 8 | reader.at(2)});
    } else if (type == 0x58 && *length >= 4 && reader.has(2)) {
        findings.meters.push_back({tick, reader.at(0), std::ldexp(1.0, reader.at(1) & 31)});
    }
    reader.skip(*length);
    return true;
}

void readTrack(std::span<const std::uint8_t> track, bool smpte, Findings& findings) {
    TrackReader reader(track);
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    while (!reader.atEnd()) {
        const auto delta = reader.variableLength();
        if (!delta || reader.atEnd()) return;
        tick += *delta;
        if (reader.at(0) & 0x80) running = reader.next();  // every status byte runs on, 0xFF too
        const std::uint8_t status = running;
        const int channel = status & 0x0F;
        if (status == 0xF0 || status == 0xF7) {
            const auto length = reader.variableLength();
            if (!length) return;
            reader.skip(*length);
        } else if (status == 0xFF) {
            if (!readMeta(reader, tick, smpte, findings)) return;
        } else if ((status & 0xF0) == 0x90) {
            if (reader.has(2) && reader.at(1) != 0) findings.noteChannels.set(static_cast<std::size_t>(channel));
            reader.skip(2);
        } else if ((status & 0xF0) == 0xD0) {
            reader.skip(1);
        } else if ((status & 0xF0) == 0xC0) {
            if (reader.has(1)) recordProgram(findings, channel, reader.at(0));
            reader.skip(1);
        } else {
            reader.skip(2);
        }
    }
}

Findings readTracks(std::span<const std::uint8_t> file, bool smpte) {
    Findings findings;
    findings.programs.fill(-1);
    std::uint64_t chunk = 8 + static_cast<std::uint64_t>(bigEndian(file.data() + 4, 4));
    while (chunk <= file.size() && file.size() - chunk >= 8) {
        if (std::memcmp(file.data() + chunk, "MTrk", 4) != 0) break;
        const std::uint64_t start = chunk + 8;
        const std::uint64_t end = std::min<std::uint64_t>(start + bigEndian(file.data() + chunk + 4, 4), file.size());
        readTrack(file.subspan(start, end - start), smpte, findings);
        chunk = end;
    }
    return findings;
}

// In file order among equal ticks. One track's events come sorted already: no sort then.
template <class Event>
void sortByTick(std::vector<Event>& events) {
    const auto earlier = [](const Event& a, const Event& b) { return a.tick < b.tick; };
    if (!std::is_sorted(events.begin(), events.end(), earlier)) std::stable_sort(events.begin(), events.end(), earlier);
}

// The bars in which meters start; a new meter at the start of the last bar replaces it.
std::vector<Bar> barsOf(std::vector<MeterEvent> meters, double division) {
    sortByTick(meters);
    std::vector<Bar> bars;
    if (meters.empty() || static_cast<double>(meters.front().tick) > 0.001) bars.push_back({0, 4, 0});
    for (const MeterEvent& meter : meters) {
        const double quarter = static_cast<double>(meter.tick) / division;
        double before = 0;
        if (!bars.empty()) {
            const Bar last = bars.back();
            if (std::abs(last.startQuarter - quarter) <= 1e-9) {
                before = last.measuresBefore;
                bars.pop_back();
            } else if (last.barQuarters > 0) {
                before = last.measuresBefore + std::round((quarter - last.startQuarter) / last.barQuarters);
            } else {
                before = last.measuresBefore;
            }
        }
        bars.push_back({quarter, meter.numerator * 4.0 / meter.denominator, before});
    }
    return bars;
}

// Bars start in ascending order: the last that starts at or before the position is found by
// bisection.
MidiFileSummary::TempoEntry entryAt(const std::vector<Bar>& bars, double quarter, double bpm) {
    const auto after = std::upper_bound(bars.begin(), bars.end(), quarter + 1e-9,
                                        [](double position, const Bar& bar) { return position < bar.startQuarter; });
    const Bar& bar = after == bars.begin() ? bars.front() : *(after - 1);
    const double into = quarter - bar.startQuarter;
    double measure = bar.measuresBefore + 1;
    double beat = into;
    if (bar.barQuarters > 0) {
        const double completed = std::floor(into / bar.barQuarters + 1e-9);
        measure += completed;
        beat = into - completed * bar.barQuarters;
    }
    return {saturatedInt64(measure), beat, quarter, bpm};
}

std::vector<MidiFileSummary::TempoEntry> tempoMapOf(Findings& findings, double division) {
    auto& tempos = findings.tempos;
    sortByTick(tempos);
    std::vector<TempoPoint> entries;
    for (const TempoEvent& tempo : tempos) {
        if (tempo.microsPerQuarter == 0) continue;
        const double bpm = std::round(60000000.0 / tempo.microsPerQuarter * 1000) / 1000;
        if (!entries.empty() && std::abs(entries.back().bpm - bpm) <= 1e-6) continue;
        const TempoPoint entry{static_cast<double>(tempo.tick) / division, bpm};
        if (!entries.empty() && std::abs(entries.back().quarterPos - entry.quarterPos) <= 1e-9) {
            entries.back() = entry;
        } else {
            entries.push_back(entry);
        }
    }
    if (!entries.empty() && entries.front().quarterPos > 1e-9) entries.insert(entries.begin(), {0, entries.front().bpm});
    const std::vector<Bar> bars = barsOf(std::move(findings.meters), division);
    std::vector<MidiFileSummary::TempoEntry> map;
    map.reserve(entries.size());
    for (const TempoPoint& entry : entries) map.push_back(entryAt(bars, entry.quarterPos, entry.bpm));
    return map;
}

std::vector<MidiFileSummary::Instrument> instrumentsOf(const Findings& findings) {
    std::vector<MidiFileSummary::Instrument> instruments;
    for (int channel = 0; channel < 16; ++channel) {
        const int recorded = findings.programs[static_cast<std::size_t>(channel)];
        if (!findings.noteChannels.test(static_cast<std::size_t>(channel)) && recorded < 0) continue;
        const int program = channel == 9 ? 0 : std::max(recorded, 0);
        instruments.push_back({channel, program, GmInstrumentNames::nameForChannel(channel, program), channel == 9});
    }
    return instruments;
}

}  // namespace

MidiFileSummary analyseMidiFile(std::span<const std::uint8_t> file) {
    if (file.size() < 14 || std::memcmp(file.data(), "MThd", 4) != 0) return {};
    const std::uint32_t rawDivision = bigEndian(file.data() + 12, 2);
    const bool smpte = (rawDivision & 0x8000) != 0;
    const double division = smpte || rawDivision == 0 ? kFallbackDivision : rawDivision;
    Findings findings = readTracks(file, smpte);
    return {tempoMapOf(findings, division), instrumentsOf(findings)};
}

nlohmann::json MidiFileSummary::toJson() const {
    nlohmann::json map = nlohmann::json::array();
    for (const TempoEntry& entry : tempoMap) {
        nlohmann::json& item = map.emplace_back(nlohmann::json::object());
        item["measure"] = entry.measure;
        item["beat"] = entry.beat;
        item["quarterPos"] = entry.quarterPos;
        item["bpm"] = entry.bpm;
        item["source"] = "midi";
        item["text"] = "";
    }
    nlohmann::json list = nlohmann::json::array();
    for (const Instrument& instrument : instruments) {
        nlohmann::json& item = list.emplace_back(nlohmann::json::object());
        item["channel"] = instrument.channel;
        item["program"] = instrument.program;
        item["name"] = instrument.name;
        item["isPercussion"] = instrument.isPercussion;
    }
    return {{"tempoMap", std::move(map)}, {"instruments", std::move(list)}};
}

nlohmann::json extractTempoMapAndInstruments(std::span<const std::uint8_t> file) {
    return analyseMidiFile(file).toJson();
}

}  // namespace kv
