#include "playback/MetronomePlan.h"

#include "base/JsonReading.h"
#include "playback/CountOff.h"

#include <algorithm>

namespace kv {

namespace {

constexpr int kMaxClicks = 500000;

double number(const nlohmann::json& entry, const char* key) {
    return entry.is_object() && entry.contains(key) ? json_reading::toDouble(entry[key]) : 0.0;
}

std::int32_t integer(const nlohmann::json& entry, const char* key) {
    return entry.is_object() && entry.contains(key) ? json_reading::toInt32(entry[key]) : 0;
}

// The walk of effectiveMsAtQuarter for positions that only grow: the entries passed for one
// position are a prefix of those passed for a later one, so each entry is passed once in all.
class QuarterClock {
public:
    QuarterClock(const nlohmann::json& tempoMap, double scale)
        : map_(tempoMap), scale_(scale), bpm_(tempoMap.empty() ? 0 : number(tempoMap.front(), "bpm")) {}

    double msAt(double quarter) {
        while (next_ < map_.size() && number(map_[next_], "quarterPos") < quarter) {
            const double position = number(map_[next_], "quarterPos");
            sum_ += (position - previous_) * 60000 / (bpm_ * scale_);
            if (const double bpm = number(map_[next_], "bpm"); bpm > 0) bpm_ = bpm;
            previous_ = position;
            ++next_;
        }
        return sum_ + (quarter - previous_) * 60000 / (bpm_ * scale_);
    }

private:
    const nlohmann::json& map_;
    double scale_;
    double bpm_;
    std::size_t next_ = 0;
    double previous_ = 0;
    double sum_ = 0;
};

struct Meter {
    double quarterPos;
    std::int32_t beat;
    std::int32_t beatType;
};

std::vector<Meter> metersOf(const MetronomeSong& song) {
    std::vector<Meter> meters;
    if (song.timeSignatureMap.is_array()) {
        for (const auto& entry : song.timeSignatureMap) {
            meters.push_back({number(entry, "quarterPos"), integer(entry, "beat"), integer(entry, "beatType")});
        }
    }
    if (meters.empty()) meters.push_back({0, song.beat, song.beatType});
    return meters;
}

}  // namespace

double effectiveMsAtQuarter(double quarter, const nlohmann::json& tempoMap, double scale) {
    return QuarterClock(tempoMap, scale).msAt(quarter);
}

std::optional<MetronomeBeats> buildMetronomeBeatOffsetsRealSeconds(const MetronomeSong& song) {
    if (!song.tempoMapEnabled || !song.tempoMap.is_array() || song.tempoMap.size() < 2) return std::nullopt;
    const double firstBpm = number(song.tempoMap.front(), "bpm");
    if (song.tempo < 1 || firstBpm <= 0) return std::nullopt;
    QuarterClock clock(song.tempoMap, song.tempo / firstBpm);
    const std::vector<Meter> meters = metersOf(song);
    MetronomeBeats beats;
    double quarter = meters.front().quarterPos;
    std::size_t next = 0;  // the meter that becomes current once the clicks reach it
    std::optional<std::size_t> current;
    std::optional<std::size_t> clickMeter;  // that of the previous click
    std::int64_t beatInBar = 0;
    std::int64_t beatsPerBar = 1;
    for (int click = 0; click < kMaxClicks; ++click) {
        while (next < meters.size() && quarter >= meters[next].quarterPos - 1e-6) current = next++;
        if (!current) break;
        const Meter& meter = meters[*current];
        if (meter.beatType < 1) break;
        const bool compound = isCompoundWithBeat(meter.beat, meter.beatType);
        const double step = (compound ? 12.0 : 4.0) / meter.beatType;
        if (current != clickMeter) {
            beatsPerBar = std::max<std::int64_t>(1, compound ? meter.beat / 3 : meter.beat);
            beatInBar = 0;
            clickMeter = current;
        }
        const double ms = clock.msAt(quarter);
        if (ms > song.endMs + 0.5) break;
        const double offset = std::max(0.0, (ms - song.startMs) / 1000);
        if (ms >= song.startMs - 0.5 && (beats.offsets.empty() || offset >= beats.offsets.back() + kMinClickSpacingSeconds)) {
            beats.offsets.push_back(offset);
            beats.volumes.push_back(beatInBar == 0 ? 1.0 : 0.0);
        }
        beatInBar = (beatInBar + 1) % beatsPerBar;
        quarter += step;
    }
    if (beats.offsets.size() < 2) return std::nullopt;
    return beats;
}

}  // namespace kv
