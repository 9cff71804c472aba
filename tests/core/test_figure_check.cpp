// The check every channel's figures pass where they leave the meter: each
// figure finite and within what a running transport can give, the plots'
// points in step. A channel that fails gives a message naming it and the
// figure, and the run no figures, whatever the input (sound file, speed log
// or the live input).
#include "CliRunner.h"
#include "WaveBuilder.h"

#include "meter/LiveMeter.h"
#include "meter/Meter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The figures of a deck with 0.05 % of wow at its platter's rate, as the
// meter could give them.
meter::ChannelFigures Sound()
{
    meter::ChannelFigures c;
    c.channel = 2;
    c.carrierHz = 3150;
    c.seconds = 20;
    c.weighted = {0.05, 0.035};
    c.unweighted = {0.08, 0.06};
    c.wowRmsPercent = 0.05;
    c.flutterRmsPercent = 0.02;
    c.driftPercent = 0.01;
    c.modulation = {{0.5556, 0.07}};
    c.modulation[0].amPercent = 0.1;
    c.modulation[0].amFmCoherence = 0.4;
    c.speedErrorPercent = 0.5;
    c.snrDb = 40;
    c.noiseFloorPercent = 0.001;
    c.envelopeSeconds = {5, 15};
    c.envelopeMin = {-0.07, -0.06};
    c.envelopeMax = {0.07, 0.06};
    c.spectrumHz = {0.5, 1};
    c.spectrumPercent = {0.07, 0.001};
    c.parts = {{"platter", 0.5556}};
    c.revolutionHz = 0.5556;
    c.trackSeconds = {0, 0.002};
    c.trackDeviation = {0.01, 0.02};
    c.trackWeighted = {0.01, 0.02};
    c.histogramPercent = {-0.1, 0, 0.1};
    c.histogramShare = {0.25, 0.5, 0.25};
    return c;
}

using Change = std::function<void(meter::ChannelFigures&)>;

struct Hostile {
    const char* fault;  // "" where the figures pass
    Change change;
};

// One figure at a time made what no transport gives (and, where a bound
// lies, just within it): the message names the first figure out of place.
const Hostile kHostile[] = {
    {"", [](meter::ChannelFigures&) {}},
    {"the mean carrier is not a finite number", [](auto& c) { c.carrierHz = kNaN; }},
    {"the mean carrier is below 25 Hz", [](auto& c) { c.carrierHz = -3150; }},
    {"the mean carrier is below 25 Hz", [](auto& c) { c.carrierHz = 24.9; }},
    {"", [](auto& c) { c.carrierHz = 25; }},
    {"", [](auto& c) { c.carrierHz = 40000; }},
    {"the mean carrier is over 40000 Hz", [](auto& c) { c.carrierHz = 1e151; }},
    {"the mean speed lies beyond what the meter follows",
     [](auto& c) {
         c.source = "speed log";
         c.carrierHz = -1e150;
     }},
    {"the mean speed lies beyond what the meter follows",
     [](auto& c) {
         c.source = "speed log";
         c.carrierHz = kNaN;
     }},
    {"the mean speed lies beyond what the meter follows",
     [](auto& c) {
         c.source = "speed log";
         c.carrierHz = 40000.01;
     }},
    {"",
     [](auto& c) {
         c.source = "speed log";
         c.carrierHz = 25;
     }},
    {"",
     [](auto& c) {
         c.source = "speed log";
         c.carrierHz = 40000;
     }},
    {"the length is not a finite number", [](auto& c) { c.seconds = kInf; }},
    {"the length is below 0 s", [](auto& c) { c.seconds = -1; }},
    {"the weighted peak (2-sigma) is not a finite number", [](auto& c) { c.weighted.twoSigmaPercent = -kNaN; }},
    {"the weighted peak (2-sigma) is below 0 %", [](auto& c) { c.weighted.twoSigmaPercent = -0.01; }},
    {"the weighted peak (2-sigma) is over 100 %", [](auto& c) { c.weighted.twoSigmaPercent = 100.01; }},
    {"", [](auto& c) { c.weighted.twoSigmaPercent = 100; }},
    {"", [](auto& c) { c.weighted.twoSigmaPercent = 0; }},
    {"the weighted rms is not a finite number", [](auto& c) { c.weighted.rmsPercent = kInf; }},
    {"the weighted rms is below 0 %", [](auto& c) { c.weighted.rmsPercent = -57; }},
    {"the unweighted peak (2-sigma) is over 100 %", [](auto& c) { c.unweighted.twoSigmaPercent = 1e308; }},
    {"the unweighted rms is below 0 %", [](auto& c) { c.unweighted.rmsPercent = -293891; }},
    {"the wow rms is not a finite number", [](auto& c) { c.wowRmsPercent = kNaN; }},
    {"the flutter rms is not a finite number", [](auto& c) { c.flutterRmsPercent = kNaN; }},
    {"the drift is below 0 %", [](auto& c) { c.driftPercent = -199; }},
    {"the drift is over 100 %", [](auto& c) { c.driftPercent = 600.4; }},
    {"the speed error is not a finite number", [](auto& c) { c.speedErrorPercent = kNaN; }},
    {"the speed error is below -10 %", [](auto& c) { c.speedErrorPercent = -10.01; }},
    {"the speed error is over 10 %", [](auto& c) { c.speedErrorPercent = 10.01; }},
    {"", [](auto& c) { c.speedErrorPercent = -10; }},
    {"", [](auto& c) { c.speedErrorPercent = 10; }},
    {"", [](auto& c) { c.speedErrorPercent.reset(); }},
    {"the band top is below 6.25 Hz", [](auto& c) { c.bandHighHz = 0; }},
    {"", [](auto& c) { c.bandHighHz = 12.5; }},
    {"the band top is over 200 Hz", [](auto& c) { c.bandHighHz = 200.5; }},
    {"the signal-to-noise is not a finite number", [](auto& c) { c.snrDb = -kInf; }},
    {"the signal-to-noise is over 70 dB", [](auto& c) { c.snrDb = 70.01; }},
    {"", [](auto& c) { c.snrDb = 70; }},
    {"", [](auto& c) { c.snrDb = -30; }},
    {"the noise floor is below 0 %", [](auto& c) { c.noiseFloorPercent = -0.001; }},
    {"the noise floor is over 100 %", [](auto& c) { c.noiseFloorPercent = 150; }},
    {"the modulation line 1's frequency is not a finite number", [](auto& c) { c.modulation[0].hz = kNaN; }},
    {"the modulation line 1's frequency is below 0 Hz", [](auto& c) { c.modulation[0].hz = -1; }},
    {"the modulation line 1's frequency is over 400 Hz", [](auto& c) { c.modulation[0].hz = 400.5; }},
    {"", [](auto& c) { c.modulation[0].hz = 400; }},
    {"the modulation line 2's peak is over 100 %", [](auto& c) { c.modulation.push_back({8, 100.5}); }},
    {"the modulation line 1's peak is below 0 %", [](auto& c) { c.modulation[0].percent = -1; }},
    {"the modulation line 1's amplitude modulation is below 0 %", [](auto& c) { c.modulation[0].amPercent = -1; }},
    {"the modulation line 1's amplitude modulation is over 2000 %",
     [](auto& c) { c.modulation[0].amPercent = 2001; }},
    {"", [](auto& c) { c.modulation[0].amPercent = 2000; }},
    {"the modulation line 1's coherence is below 0", [](auto& c) { c.modulation[0].amFmCoherence = -0.01; }},
    {"the modulation line 1's coherence is over 1", [](auto& c) { c.modulation[0].amFmCoherence = 1.01; }},
    {"", [](auto& c) { c.modulation[0].amFmCoherence = 1; }},
    {"", [](auto& c) { c.modulation[0].amFmCoherence.reset(); }},  // AM within the noise: none to check
    {"the platter rate is not a finite number", [](auto& c) { c.parts[0].hz = kNaN; }},
    {"the platter rate is below 0 Hz", [](auto& c) { c.parts[0].hz = -0.5; }},
    {"the revolution rate is not a finite number", [](auto& c) { c.revolutionHz = kInf; }},
    {"the revolution rate is below 0 Hz", [](auto& c) { c.revolutionHz = -1; }},
    {"the envelope's points are not in step", [](auto& c) { c.envelopeMax.pop_back(); }},
    {"the envelope has a point that is not a finite number", [](auto& c) { c.envelopeMin[1] = -kInf; }},
    {"the envelope has a point that is not a finite number", [](auto& c) { c.envelopeSeconds[0] = kNaN; }},
    {"the spectrum's points are not in step", [](auto& c) { c.spectrumHz.push_back(2); }},
    {"the spectrum has a point that is not a finite number", [](auto& c) { c.spectrumPercent[0] = kInf; }},
    {"the track's points are not in step", [](auto& c) { c.trackWeighted.clear(); }},
    {"the track has a point that is not a finite number", [](auto& c) { c.trackWeighted[1] = kNaN; }},
    {"the histogram's points are not in step", [](auto& c) { c.histogramShare.pop_back(); }},
    {"the histogram has a point that is not a finite number", [](auto& c) { c.histogramPercent[2] = kInf; }},
    // The first figure out of place is the one named.
    {"the weighted rms is below 0 %",
     [](auto& c) {
         c.weighted.rmsPercent = -1;
         c.driftPercent = kNaN;
     }},
};

TEST(FigureCheck, EachFigureOutOfPlaceIsNamed)
{
    for (const Hostile& h : kHostile) {
        meter::ChannelFigures c = Sound();
        h.change(c);
        const std::string expected = *h.fault ? std::string("In channel 2 of deck.wav ") + h.fault + ": no figures." : "";
        EXPECT_EQ(meter::CheckFigures(c, "deck.wav"), expected);
    }
    // A channel with nothing measured beside its carrier passes: no list, no plots.
    meter::ChannelFigures bare;
    bare.carrierHz = 1000;
    EXPECT_EQ(meter::CheckFigures(bare, "deck.wav"), "");
}

// Speed logs a parser may let through: whatever reads them, the meter gives
// no figures for them but one message naming the log.
class FigureCheckOfLogs : public ::testing::Test {
protected:
    std::string Log(const std::string& name, const std::string& heading, const std::function<double(int)>& value)
    {
        const std::string path = (dir.Path() / name).string();
        std::ofstream out(path);
        out << "Time;" << heading << "\n";
        for (int i = 0; i < 6000; ++i)  // 12 s at 500 points a second
            out << i * 2 << ";" << value(i) << "\n";
        return path;
    }
    static double Wow(int i) { return 33.3333 * (1 + 0.001 * std::sin(2 * std::numbers::pi * 4 * i / 500.0)); }
    TempDir dir;
};

TEST_F(FigureCheckOfLogs, AbsurdLogsGiveAMessageAndNoFigures)
{
    const std::string logs[] = {
        // A sensor's glitch read as 1e308 rpm, once a second.
        Log("glitch.txt", "Speed", [](int i) { return i % 500 == 250 ? 1e308 : Wow(i); }),
        // Every point at 1e308 rpm.
        Log("huge.txt", "Speed", [](int i) { return Wow(i) * 3e306; }),
        // Percent deviations of 1e150.
        Log("percent.txt", "Speed (%)", [](int i) { return 1e150 * std::sin(2 * std::numbers::pi * 4 * i / 500.0); }),
        Log("offset.txt", "Speed (%)", [](int i) { return i % 100 == 50 ? 1e150 : 0.1 * std::sin(i); }),
        // A platter at 1 rpm that runs at 100 rpm for one second in ten.
        Log("wild.txt", "Speed", [](int i) { return i % 5000 < 500 ? 100.0 : 1.0; }),
    };
    for (const std::string& log : logs) {
        const std::string name = std::filesystem::path(log).filename().string();
        const meter::MeterResult r = meter::RunMeter(log, {});
        EXPECT_FALSE(r.ok) << name;
        EXPECT_TRUE(r.channels.empty()) << name;
        EXPECT_NE(r.message.find(name), std::string::npos) << r.message;
    }
    // The log of sane speeds beside them still reads.
    const meter::MeterResult sane = meter::RunMeter(Log("sane.txt", "Speed", Wow), {});
    ASSERT_TRUE(sane.ok) << sane.message;
    EXPECT_NEAR(sane.channels[0].weighted.twoSigmaPercent, 0.1, 0.005);
}

// tarvo-cli prints the message and no figure, and no limit passes the log:
// exit 1 (a file the meter could not measure), never 0 or 3.
TEST_F(FigureCheckOfLogs, CliPrintsNoFigureAndPassesNoLimit)
{
    const std::string glitch = Log("glitch.txt", "Speed", [](int i) { return i % 500 == 250 ? 1e308 : Wow(i); });
    const std::string percent =
        Log("percent.txt", "Speed (%)", [](int i) { return 1e150 * std::sin(2 * std::numbers::pi * 4 * i / 500.0); });
    const std::string sane = Log("sane.txt", "Speed", Wow);
    for (const std::string& log : {glitch, percent}) {
        const std::string name = std::filesystem::path(log).filename().string();
        CliResult r = RunCli({"--json", "--meter", "--limit-weighted", "0.1", log}, dir.Path().string());
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        const auto doc = nlohmann::json::parse(r.out);
        EXPECT_FALSE(doc.contains("meter")) << r.out;
        ASSERT_EQ(doc["messages"].size(), 1u) << r.out;
        EXPECT_NE(doc["messages"][0]["text"].get<std::string>().find(name), std::string::npos) << r.out;

        r = RunCli({"--meter", "--limit-weighted", "0.1", log}, dir.Path().string());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out.find("verdict"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("nan"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("inf"), std::string::npos) << r.out;
    }
    // A batch: the sane log passes, the others are errors.
    CliResult r = RunCli({"--json", "--meter", "--limit-weighted", "0.2", sane, glitch, percent}, dir.Path().string());
    EXPECT_EQ(r.status, 1) << r.err;
    std::istringstream lines(r.out);
    std::vector<nlohmann::json> docs;
    for (std::string line; std::getline(lines, line);)
        docs.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(docs.size(), 4u) << r.out;
    EXPECT_EQ(docs.back()["summary"]["error"], 2) << r.out;  // the batch's tally
    docs.pop_back();
    for (const nlohmann::json& doc : docs) {
        EXPECT_EQ(doc.contains("meter"), doc["file"] == sane) << doc.dump();
        EXPECT_NE(doc.contains("messages"), doc["file"] == sane) << doc.dump();
    }
}

// The live input: a float source that once gives a sample that is not a
// number. The block holding it is refused, not measured, and the tone is
// locked again after it: no update shows a figure that fails the check, and
// the whole run has figures again.
TEST(FigureCheckLive, BlockWithASampleThatIsNoNumberIsRefused)
{
    constexpr int kRate = 48000;
    meter::LiveSettings s;
    s.carrierHz = 3150;
    s.windowSeconds = 1;
    meter::LiveMeter m(kRate, 1, s);
    ASSERT_TRUE(m.Ok()) << m.Error();
    size_t shown = 0, updates = 0;
    m.SetUpdateSink([&](const meter::LiveUpdate& u) {
        ++updates;
        for (const meter::LiveChannel& c : u.channels)
            for (const auto* figures : {&c.window, &c.run})
                if (*figures) {
                    ++shown;
                    EXPECT_EQ(meter::CheckFigures(**figures, "the input"), "") << u.seconds;
                }
    });
    std::vector<float> x(static_cast<size_t>(8 * kRate));
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 3150 * static_cast<double>(i) / kRate));
    EXPECT_TRUE(m.Push(x.data(), x.size() / 2));
    EXPECT_GT(shown, 0u);  // figures before the fault
    x[x.size() / 2] = std::numeric_limits<float>::quiet_NaN();
    constexpr size_t block = kRate / 10;
    for (size_t at = x.size() / 2; at < x.size(); at += block)
        EXPECT_EQ(m.Push(x.data() + at, block), at != x.size() / 2) << at;
    EXPECT_EQ(updates, 79u);  // the block refused is no input
    const meter::MeterResult r = m.WholeRun();
    EXPECT_TRUE(r.ok) << r.message;
    ASSERT_EQ(r.channels.size(), 1u);
    EXPECT_EQ(meter::CheckFigures(r.channels[0], "the input"), "");
}

}  // namespace
