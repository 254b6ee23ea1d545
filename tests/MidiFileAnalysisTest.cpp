#include "midifile/MidiFileAnalysis.h"

#include "support/MidiFileBuilder.h"

#include <gtest/gtest.h>

#include <random>

namespace kv {
namespace {

using nlohmann::json;
using test::midiFile;
using test::MidiTrackBuilder;

json entry(std::int64_t measure, double beat, double quarter, double bpm) {
    return {{"measure", measure}, {"beat", beat}, {"quarterPos", quarter}, {"bpm", bpm}, {"source", "midi"}, {"text", ""}};
}

json instrument(int channel, int program, const char* name) {
    return {{"channel", channel}, {"program", program}, {"name", name}, {"isPercussion", channel == 9}};
}

json analyse(const std::vector<std::uint8_t>& bytes) {
    return extractTempoMapAndInstruments(bytes);
}

TEST(MidiFileAnalysis, TempoEntriesAreDedupedReplacedAndLedByQuarterZero) {
    MidiTrackBuilder track;
    track.tempo(960, 500000)    // quarter 2: 120, so an entry at 0 leads
        .tempo(480, 500000)     // equal: dropped
        .tempo(480, 600000)     // quarter 4: 100
        .tempo(0, 400000)       // the same position: replaces it with 150
        .tempo(480, 0)          // no tempo at all: skipped
        .tempo(0, 428571);      // 140.000140… rounds to 140
    const json map = analyse(midiFile(480, {track}))["tempoMap"];
    EXPECT_EQ(map, json::array({entry(1, 0, 0, 120), entry(1, 2, 2, 120), entry(2, 0, 4, 150), entry(2, 1, 5, 140)}));
}

TEST(MidiFileAnalysis, MeasuresAndBeatsFollowTheMeters) {
    MidiTrackBuilder noMeter;
    noMeter.tempo(9 * 480, 500000);  // 4/4 by default: quarter 9 is measure 3, beat 1
    EXPECT_EQ(analyse(midiFile(480, {noMeter}))["tempoMap"][1], entry(3, 1, 9, 120));

    // 3/4 from quarter 6 after 4/4: one and a half bars round to two before it.
    MidiTrackBuilder meters;
    meters.meter(6 * 480, 3, 2).tempo(0, 500000).tempo(720, 250000).tempo(720, 500000);
    EXPECT_EQ(analyse(midiFile(480, {meters}))["tempoMap"],
              json::array({entry(1, 0, 0, 120), entry(3, 0, 6, 120), entry(3, 1.5, 7.5, 240), entry(4, 0, 9, 120)}));

    // A meter at quarter 0 replaces the default bar; 6/8 bars are three quarters long.
    MidiTrackBuilder compound;
    compound.meter(0, 6, 3).tempo(0, 500000).tempo(7 * 480, 1000000);
    EXPECT_EQ(analyse(midiFile(480, {compound}))["tempoMap"][1], entry(3, 1, 7, 60));
}

TEST(MidiFileAnalysis, ASmpteOrZeroDivisionCountsFourHundredEightyTicks) {
    MidiTrackBuilder track;
    track.tempo(960, 500000).event(0, {0x90, 60, 100});
    const json smpte = analyse(midiFile(0xE728, {track}));
    EXPECT_EQ(smpte["tempoMap"], json::array()) << "tempo events of a SMPTE file are not read";
    EXPECT_EQ(smpte["instruments"], json::array({instrument(0, 0, "Acoustic Grand Piano")}));
    EXPECT_EQ(analyse(midiFile(0, {track}))["tempoMap"][1], entry(1, 2, 2, 120));
}

TEST(MidiFileAnalysis, InstrumentsTakeTheFirstNonZeroProgramAndSoundingChannels) {
    MidiTrackBuilder track;
    track.event(0, {0xC0, 0}).event(0, {0xC0, 5})   // 0 then 5: 5
        .event(0, {0xC1, 5}).event(0, {0xC1, 0})    // 5 then 0: 5
        .event(0, {0xC2, 3}).event(0, {0xC2, 7})    // 3 then 7: 3
        .event(0, {0xC9, 40}).event(0, {0x99, 36, 90})
        .event(0, {0x93, 60, 0})                    // velocity 0: not an instrument
        .event(0, {0x94, 60, 1})                    // sounding without a program: 0
        .event(0, {0xCF, 111});
    EXPECT_EQ(analyse(midiFile(480, {track}))["instruments"],
              json::array({instrument(0, 5, "Electric Piano 2"), instrument(1, 5, "Electric Piano 2"),
                           instrument(2, 3, "Honky-tonk Piano"), instrument(4, 0, "Acoustic Grand Piano"),
                           instrument(9, 0, "Drums"), instrument(15, 111, "Shanai")}));
}

// Every status byte runs on, meta and SysEx included: a data byte after them continues them.
TEST(MidiFileAnalysis, RunningStatusCarriesAcrossMetaAndSysEx) {
    MidiTrackBuilder track;
    track.event(0, {0x92, 60, 100}).event(0, {61, 100})          // a running note on channel 2
        .tempo(480, 500000)
        .event(480, {0x51, 0x03, 0x09, 0x27, 0xC0})              // running 0xFF: a tempo of 100
        .event(0, {0xF0, 0x02, 0x7E, 0xF7})
        .event(480, {0x02, 0x01, 0x02})                          // running 0xF0: two bytes skipped
        .event(0, {0xC5, 9});
    const json analysis = analyse(midiFile(480, {track}));
    EXPECT_EQ(analysis["tempoMap"], json::array({entry(1, 0, 0, 120), entry(1, 1, 1, 120), entry(1, 2, 2, 100)}));
    EXPECT_EQ(analysis["instruments"], json::array({instrument(2, 0, "Acoustic Grand Piano"), instrument(5, 9, "Glockenspiel")}));
}

TEST(MidiFileAnalysis, MalformedFilesGiveWhatTheirWholePartsSay) {
    const json empty = {{"tempoMap", json::array()}, {"instruments", json::array()}};
    MidiTrackBuilder track;
    track.tempo(0, 500000).event(0, {0xC3, 20});
    const auto good = midiFile(480, {track});

    EXPECT_EQ(analyse({good.begin(), good.begin() + 13}), empty) << "a truncated header";
    auto notMidi = good;
    notMidi[0] = 'X';
    EXPECT_EQ(analyse(notMidi), empty);
    EXPECT_EQ(analyse({good.begin(), good.begin() + 14}), empty) << "only a header";

    auto cut = good;
    cut.resize(cut.size() - 4);  // the track ends inside what its length claims: what is there counts
    EXPECT_EQ(analyse(cut)["instruments"].size(), 1u);

    auto claimsTooMuch = good;
    claimsTooMuch[18] = claimsTooMuch[19] = claimsTooMuch[20] = claimsTooMuch[21] = 0xFF;
    EXPECT_EQ(analyse(claimsTooMuch)["tempoMap"].size(), 1u);

    // A 14-byte file whose header claims a 4 GiB track.
    const std::vector<std::uint8_t> tiny = {'M', 'T', 'h', 'd', 0xFF, 0xFF, 0xFF, 0xF0, 0, 1, 0, 1, 1, 0xE0};
    EXPECT_EQ(analyse(tiny), empty);

    auto runsOff = midiFile(480, {});
    runsOff.insert(runsOff.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 3, 0x81, 0x82, 0x83});  // a delta that never ends
    EXPECT_EQ(analyse(runsOff), empty);

    // A chunk that is not a track ends the reading: the track after it is not read.
    auto foreign = midiFile(480, {});
    foreign.insert(foreign.end(), {'X', 'F', 'I', 'H', 0, 0, 0, 0});
    const auto trackBytes = std::vector<std::uint8_t>(good.begin() + 14, good.end());
    foreign.insert(foreign.end(), trackBytes.begin(), trackBytes.end());
    EXPECT_EQ(analyse(foreign), empty);

    std::mt19937 random(1);
    std::vector<std::uint8_t> noise(1 << 20);
    for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
    const std::uint8_t header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 1, 0xE0, 'M', 'T', 'r', 'k', 0, 0x10, 0, 0};
    std::copy(std::begin(header), std::end(header), noise.begin());
    const json analysis = analyse(noise);
    EXPECT_TRUE(analysis["tempoMap"].is_array());
    EXPECT_LE(analysis["instruments"].size(), 16u);
}

}  // namespace
}  // namespace kv
