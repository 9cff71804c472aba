// Speed logs as the meter's input: the tables sensors write, the logs that
// are refused and why, the figures a log's deviation reads, and the memory
// a log of any length takes.
#include "CliRunner.h"
#include "WaveBuilder.h"

#include "meter/Meter.h"
#include "meter/SpeedLog.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

using namespace tarvo;
using namespace tarvo::test;
using namespace std::string_literals;

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
// A steady sinusoid of peak d exceeds d sin(0.95 x 90 deg) 5 % of the time.
const double kTwoSigmaOfPeak = std::sin(0.95 * std::numbers::pi / 2);

struct Parsed {
    bool ok = false;
    std::string error;
    meter::SpeedLogShape shape;
    std::vector<double> seconds, percent;
};

Parsed Parse(std::string_view text)
{
    Parsed p;
    meter::SpeedLogReader reader;
    reader.OpenText(text);
    p.ok = reader.Survey() && reader.Rows([&](double t, double v) {
        p.seconds.push_back(t);
        p.percent.push_back(v);
        return true;
    });
    p.error = reader.Error();
    p.shape = reader.Shape();
    return p;
}

// A log of rpm about 33 1/3 at `rows` rows a second, `speed(t)` its
// relative speed (1 at nominal), times in ms.
std::string LogText(double rows, double seconds, const std::function<double(double t)>& speed,
                    const std::string& head = "Time [ms];Speed [rpm]\n")
{
    std::string s = "Device:;SpeedSensor\n" + head;
    char buf[64];
    const auto n = static_cast<long>(std::lround(seconds * rows));
    for (long i = 0; i <= n; ++i) {
        const double t = static_cast<double>(i) / rows;
        std::snprintf(buf, sizeof buf, "%.4f;%.7f\n", t * 1000, 100.0 / 3 * speed(t));
        s += buf;
    }
    return s;
}

std::function<double(double)> Sine(double hz, double peakPercent)
{
    return [=](double t) { return 1 + peakPercent / 100 * std::sin(kTwoPi * hz * t); };
}

meter::MeterResult MeterOn(const TempDir& dir, const std::string& text, const std::string& name = "speed.txt")
{
    const std::string path = (dir.Path() / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return meter::RunMeter(path, {});
}

TEST(SpeedLog, TablesAsSensorsWriteThem)
{
    struct Case {
        std::string text;
        double lastSeconds, firstPercent;
    };
    const Case cases[] = {
        {"Time;Speed\n0;33\n10;33\n20;33\n30;33\n40;33\n50;33\n60;33\n70;34\n", 0.07, -100.0 / 33.125 * 0.125},
        {"Key:;value\nTime (s),Speed (%)\n0,0.1\n1,0.2\n2,0.1\n3,0\n4,-0.1\n5,0\n6,0.1\n7,0\n", 7, 0.1},
        // A decimal comma where commas do not separate the cells.
        {"t [s]\tdeviation %\n0\t0,5\n1\t0\n2\t0\n3\t0\n4\t0\n5\t0\n6\t0\n7\t0\n", 7, 0.5},
        // The time in the second column, the speed's column unnamed.
        {"Value;Time [s]\n34;0\n33;1\n33;2\n33;3\n33;4\n33;5\n33;6\n33;7\n", 7, 100.0 * (34 / 33.125 - 1)},
        // The time's unit as the heading names it.
        {"Time [us];Speed [%]\n0;1\n1000;0\n2000;0\n3000;0\n4000;0\n5000;0\n6000;0\n7000;0\n", 0.007, 1},
        {"Time_ms;Speed %\n0;1\n1;0\n2;0\n3;0\n4;0\n5;0\n6;0\n7;0\n", 0.007, 1},
        {"Seconds;Speed %\n0;1\n1;0\n2;0\n3;0\n4;0\n5;0\n6;0\n7;0\n", 7, 1},
        {"Time (\xC2\xB5s);Speed %\n0;1\n1;0\n2;0\n3;0\n4;0\n5;0\n6;0\n7;0\n", 7e-6, 1},
        // A line as long as a line may be.
        {"Comment:;" + std::string(meter::kLongestSpeedLogLine - 9, 'x') + "\nTime [s];Speed %\n0;1\n1;0\n2;0\n3;0\n4;0\n5;0\n6;0\n7;0\n", 7, 1},
        // A byte-order mark, CR LF line ends and no end to the last line.
        {"\xEF\xBB\xBFTime [s];Speed %\r\n0;1\r\n1;0\r\n2;0\r\n3;0\r\n4;0\r\n5;0\r\n6;0\r\n7;0", 7, 1},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.text);
        ASSERT_TRUE(p.ok) << c.text << p.error;
        ASSERT_EQ(p.seconds.size(), 8u) << c.text;
        EXPECT_DOUBLE_EQ(p.seconds.back(), c.lastSeconds) << c.text;
        EXPECT_NEAR(p.percent.front(), c.firstPercent, 1e-9) << c.text;
    }
}

TEST(SpeedLog, RefusesWhatIsNoLogOrNoReading)
{
    const std::string rows = "0;33\n1;33\n2;33\n3;33\n4;33\n5;33\n6;33\n7;33\n";
    std::string gap = "Time [s];Speed\n";
    for (int i = 0; i < 100; ++i)
        gap += std::to_string(i < 50 ? i : i + 10) + ";33\n";
    const std::string utf16 = "T\0i\0m\0e\0;\0S\0p\0e\0e\0d\0\n\0"s;
    struct Case {
        std::string text, reason;
    };
    const Case cases[] = {
        {"", "no table of time and speed"},
        {"just some words\nand more\n", "no table of time and speed"},
        {std::string(200, '\n') + "Time;Speed\n" + rows, "no table of time and speed"},
        {"Time;Speed\n0;33\n1;x\n", "line 3 is not a time and a speed"},
        {"Time;Speed\n0;33\n1;inf\n", "line 3 is not a time and a speed"},
        {"Time;Speed\n0;33\n1;nan\n", "line 3 is not a time and a speed"},
        {"Time;Speed\n0;33\n1;0x21\n", "line 3 is not a time and a speed"},
        {"Time;Speed\n5;33\n4;33\n", "do not rise at line 3"},
        {"Time;Speed\n" + rows.substr(0, 20), "fewer than 8 rows"},
        {"Time [min];Speed\n" + rows, "(\"Time [min]\") is none of us, ms and s"},
        {"Time (h);Speed\n" + rows, "is none of us, ms and s"},
        // Decimal commas in a table whose cells commas separate.
        {"Time [ms],Speed [rpm]\n0,33,3\n1,33,4\n", "line 2 has more cells than its header row: a decimal comma"},
        // Readings no turning platter gives.
        {"Time;Speed\n0;33\n1;1e308\n2;33\n", "line 3 gives a speed of 1e+308, which no turning platter has"},
        {"Time;Speed\n0;33\n1;0\n2;33\n", "line 3 gives a speed of 0"},
        {"Time;Speed\n0;33\n1;-33\n", "line 3 gives a speed of -33"},
        {"Time;Speed\n0;33\n1;66\n", "the speed jumps from 33 to 66 at line 3"},
        {"Time;Speed [%]\n0;0.1\n1;80\n", "line 3 gives a deviation of 80 %"},
        {"Time;Speed [%]\n0;0.1\n1;-1e300\n", "line 3 gives a deviation of -1e+300 %"},
        {"Time;Speed\n0;33\n" + std::string(5000, ';') + "\n", "line 3 is longer than 4096 bytes"},
        {std::string(1 << 20, ';'), "line 1 is longer than 4096 bytes"},
        {"Time;Speed\n0;33\n1;3\0" "3\n"s, "not text"},
        {"\xFF\xFE" + utf16, "UTF-16 text; save the log as UTF-8 or ASCII"},
        {utf16, "UTF-16"},
        {std::string(1, '\0') + utf16.substr(0, utf16.size() - 1), "UTF-16"},
        {"\xFF\xFE", "UTF-16"},
        {std::string("\0T", 2), "UTF-16"},
        {std::string(1, '\0'), "not text"},
        // A gap the meter would have to make up.
        {gap, "a gap of 11 s before line 52, where its rows come every 1 s"},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.text);
        EXPECT_FALSE(p.ok) << c.text.substr(0, 200);
        EXPECT_NE(p.error.find(c.reason), std::string::npos) << c.text.substr(0, 200) << "\n" << p.error;
    }
}

TEST(SpeedLog, TakesStepsOfAFewPeriods)
{
    // The widest step a log may have is a few of its mean periods.
    for (const auto& [step, ok] : {std::pair{3.0, true}, std::pair{5.0, false}}) {
        std::string text = "Time [ms];Speed\n";
        double t = 0;
        for (int i = 0; i < 1000; ++i, t += i == 500 ? step : 1.0)
            text += std::to_string(t) + ";33\n";
        EXPECT_EQ(Parse(text).ok, ok) << step << " " << Parse(text).error;
    }
}

// The log's sample period is its median step, so that a gap or a few
// wide steps do not pass for a slower rate.
TEST(SpeedLog, ThePeriodIsTheMedianStep)
{
    struct Case {
        std::vector<double> steps;  // ms
        double period;              // s
    };
    const Case cases[] = {
        {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 0.001},
        {{1, 3, 1, 3, 1, 3, 1, 3, 1}, 0.001},
        {{3, 1, 3, 1, 3, 1, 3, 1, 3}, 0.003},
        {{2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 7}, 0.002},
    };
    for (const Case& c : cases) {
        std::string text = "Time [ms];Speed\n0;33\n";
        double t = 0;
        for (double step : c.steps)
            text += std::to_string(t += step) + ";33\n";
        meter::SpeedLogReader reader;
        reader.OpenText(text);
        ASSERT_TRUE(reader.Survey()) << reader.Error();
        EXPECT_NEAR(reader.Shape().period, c.period, 1e-12) << text;
        EXPECT_NEAR(reader.Shape().RowsPerSecond(), 1 / c.period, 1e-6) << text;
    }
}

// The points a log gives the meter: one every 1 / rate s from its first
// row's time to its last's, both included, passing through every row (the
// spline interpolates), its ends too.
TEST(SpeedLog, ResamplesFromTheFirstRowToTheLast)
{
    struct Case {
        int rows, perRow;
    };
    for (const Case c : {Case{8, 4}, Case{100, 10}, Case{400, 3}}) {
        std::string text = "Time [s];Speed %\n";
        std::vector<double> values;
        char buf[64];
        for (int i = 0; i < c.rows; ++i) {
            values.push_back(std::round(3e5 * std::sin(1.3 * i)) / 1e6);
            std::snprintf(buf, sizeof buf, "%d;%.6f\n", i, values.back());
            text += buf;
        }
        meter::SpeedLogReader reader;
        reader.OpenText(text);
        ASSERT_TRUE(reader.Survey()) << reader.Error();
        std::vector<double> points;
        ASSERT_TRUE(reader.Resample(c.perRow, [&](double p) {
            points.push_back(p);
            return true;
        })) << reader.Error();
        ASSERT_EQ(points.size(), static_cast<size_t>((c.rows - 1) * c.perRow + 1)) << c.rows;
        for (int i = 0; i < c.rows; ++i)
            EXPECT_NEAR(points[static_cast<size_t>(i * c.perRow)], values[static_cast<size_t>(i)], 1e-9) << i;
    }
}

TEST(SpeedLog, HasACapOnRows)
{
    std::string text = "Time;Speed [%]\n";
    text.reserve(static_cast<size_t>(meter::kMostSpeedLogRows + 1) * 10);
    for (int64_t i = 0; i <= meter::kMostSpeedLogRows; ++i)
        text += std::to_string(i) + ";0\n";
    const Parsed p = Parse(text);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, "it has more than " + std::to_string(meter::kMostSpeedLogRows) + " rows");
}

// The deviation of a log sampled well reads its theory: two-sigma 0.99692 d
// on the unweighted path, an rms of d / sqrt(2) in the band the rate falls
// in, nothing in the other.
TEST(SpeedLog, ReadsTheTheoryOfASinusoidalDeviation)
{
    struct Case {
        double hz;
        bool flutter;
    };
    const Case cases[] = {{4.1, false}, {1.5, false}, {12, true}, {31.5, true}};
    TempDir dir;
    for (const Case& c : cases) {
        constexpr double kPeak = 1;  // percent
        const meter::MeterResult r = MeterOn(dir, LogText(1000, 20, Sine(c.hz, kPeak)));
        ASSERT_TRUE(r.ok) << r.message;
        const meter::ChannelFigures& f = r.channels[0];
        const double rms = kPeak / std::sqrt(2);
        EXPECT_NEAR(f.unweighted.twoSigmaPercent, kTwoSigmaOfPeak * kPeak, 0.01 * kPeak) << c.hz;
        EXPECT_NEAR(f.unweighted.rmsPercent, rms, 0.01 * rms) << c.hz;
        EXPECT_NEAR(c.flutter ? f.flutterRmsPercent : f.wowRmsPercent, rms, 0.015 * rms) << c.hz;
        EXPECT_LT(c.flutter ? f.wowRmsPercent : f.flutterRmsPercent, 0.02 * rms) << c.hz;
        EXPECT_EQ(f.bandHighHz, 200);
        ASSERT_FALSE(f.modulation.empty());
        EXPECT_NEAR(f.modulation[0].hz, c.hz, 0.1) << c.hz;
        EXPECT_NEAR(f.modulation[0].percent, kPeak, 0.02 * kPeak) << c.hz;
    }
}

// The band ends at a quarter of the log's rate, as it does at a quarter of
// a low carrier: a line at a fifth of the rate reads its level through the
// cubic B-spline between rows, sinc^4(x) 3 / (2 + cos(2 pi x)) at
// x = f / rate, and its images (from 3/4 of the rate up) are no lines.
TEST(SpeedLog, TheBandFollowsTheLogsRate)
{
    TempDir dir;
    for (const double rows : {60.0, 200.0, 500.0}) {
        constexpr double kPeak = 0.5;
        const double hz = rows / 5;
        const meter::MeterResult r = MeterOn(dir, LogText(rows, 40, Sine(hz, kPeak)));
        ASSERT_TRUE(r.ok) << r.message;
        const meter::ChannelFigures& f = r.channels[0];
        EXPECT_NEAR(f.bandHighHz, rows / 4, 1e-6 * rows);
        ASSERT_FALSE(f.modulation.empty()) << rows;
        const double x = std::numbers::pi * hz / rows;
        const double interpolated = kPeak * std::pow(std::sin(x) / x, 4) * 3 / (2 + std::cos(2 * x));
        EXPECT_NEAR(f.modulation[0].hz, hz, 0.1) << rows;
        EXPECT_NEAR(f.modulation[0].percent, interpolated, 0.01 * interpolated) << rows;
        for (const meter::ModulationLine& m : f.modulation)
            EXPECT_LE(m.hz, f.bandHighHz) << rows;
        for (const auto& [label, text] : meter::FigureLines(f)) {
            if (label == "band top (Hz)") {
                EXPECT_NE(text.find("the log's rate"), std::string::npos) << text;
            }
        }
    }
}

// Figures the data cannot support are a message: a log sampled too slowly
// for the band (naming the rate it needs), one too short, one with a gap.
TEST(SpeedLog, RefusesLogsThatCannotCarryTheBand)
{
    std::string eightRows = "Time [s];Speed\n";
    for (int i = 0; i < 8; ++i)
        eightRows += std::to_string(i * 0.5) + ";33.3\n";
    std::string twoDays = "Time [s];Speed\n";
    for (int i = 0; i < 10; ++i)
        twoDays += std::to_string(i * 47 * 3600 / 9) + ";33.3\n";
    std::string gap = "Time [ms];Speed\n";
    for (int i = 0; i < 20000; ++i)
        gap += std::to_string(i < 10000 ? i : i + 600000) + ";" + std::to_string(33.3 * (1 + 0.003 * std::sin(i / 20.0))) + "\n";
    const std::pair<std::string, std::string> cases[] = {
        {LogText(1, 600, Sine(4.1, 1)), "at least 50 rows a second, which carries the band to 12.5 Hz; "
                                        "speed.txt has 1.00 rows a second."},
        {LogText(40, 60, Sine(4.1, 1)), "has 40.00 rows a second."},
        {eightRows, "has 2.00 rows a second."},
        {twoDays, "has 0.00 rows a second."},
        {LogText(1000, 1.5, Sine(4.1, 1)), "at least 2 seconds of speed log; speed.txt spans 1.50 s."},
        {gap, "The meter cannot measure the speed log speed.txt: it has a gap of 600.001 s before line 10002, where its rows come every 0.001 s"},
    };
    TempDir dir;
    for (const auto& [text, reason] : cases) {
        const meter::MeterResult r = MeterOn(dir, text);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find(reason), std::string::npos) << r.message;
    }
}

// Whatever the meter reads the log's speed from, a reading no platter
// gives is a message, not a figure.
TEST(SpeedLog, AnAbsurdReadingIsAMessage)
{
    std::string text = LogText(1000, 10, Sine(4.1, 0.1));
    const size_t row = text.find("\n5000.0000;") + 11;
    text.replace(row, text.find('\n', row) - row, "1e308");
    TempDir dir;
    const meter::MeterResult r = MeterOn(dir, text);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("speed.txt: line 5003 gives a speed of 1e+308, which no turning platter has."),
              std::string::npos)
        << r.message;
}

// A log has no tone: neither a signal-to-noise ratio nor a noise floor.
TEST(SpeedLog, HasNoToneFigures)
{
    TempDir dir;
    const meter::MeterResult r = MeterOn(dir, LogText(1000, 10, Sine(4.1, 0.1)));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_FALSE(r.channels[0].snrDb.has_value());
    EXPECT_FALSE(r.channels[0].noiseFloorPercent.has_value());
    for (const auto& [label, text] : meter::FigureLines(r.channels[0])) {
        EXPECT_EQ(label.find("noise"), std::string::npos) << label;
        EXPECT_NE(label, "note");
    }
    const CliResult cli = RunCli({"--json", "--meter", (dir.Path() / "speed.txt").string()}, dir.Path().string());
    ASSERT_EQ(cli.status, 0) << cli.err;
    const auto c = nlohmann::ordered_json::parse(cli.out)["meter"]["channels"][0];
    EXPECT_TRUE(c["snr_db"].is_null());
    EXPECT_TRUE(c["noise_floor_percent"].is_null());
}

// UTF-16 is named as the cause, in one message with nothing else on
// standard error.
TEST(SpeedLog, Utf16IsNamed)
{
    TempDir dir;
    const std::string path = (dir.Path() / "log16.txt").string();
    {
        const std::string text = LogText(1000, 3, Sine(4.1, 0.1));
        std::string wide = "\xFF\xFE";
        for (char ch : text)
            wide += std::string{ch, '\0'};
        std::ofstream(path, std::ios::binary) << wide;
    }
    const CliResult cli = RunCli({"--meter", path}, dir.Path().string());
    EXPECT_EQ(cli.status, 1);
    EXPECT_EQ(cli.err, "Standards W&F: The meter cannot measure the speed log log16.txt: it is UTF-16 text; save the "
                       "log as UTF-8 or ASCII.\n");
}

long PeakKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    return -1;
}

// A log of any length is read in fixed memory: a million rows (a quarter
// of an hour at 1000 a second) and 32 MiB of separators alike.
TEST(SpeedLog, ReadsInFixedMemory)
{
    TempDir dir;
    const std::string rows = (dir.Path() / "rows.txt").string(), seps = (dir.Path() / "seps.txt").string();
    {
        std::ofstream out(rows, std::ios::binary);
        out << "Time [ms];Speed [rpm]\n";
        char buf[64];
        for (int i = 0; i < 1'000'000; ++i) {
            std::snprintf(buf, sizeof buf, "%d;%.5f\n", i, 33.3 * (1 + 0.001 * std::sin(i * 0.0257)));
            out << buf;
        }
        std::ofstream(seps, std::ios::binary) << std::string(32u << 20, ';');
    }
    // Peak resident memory from here on (writing 5 to clear_refs resets it).
    ASSERT_TRUE(static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5"));
    const long before = PeakKiB();
    const meter::MeterResult ofRows = meter::RunMeter(rows, {}), ofSeps = meter::RunMeter(seps, {});
    const long grown = PeakKiB() - before;
    EXPECT_TRUE(ofRows.ok) << ofRows.message;
    EXPECT_FALSE(ofSeps.ok);
    EXPECT_NE(ofSeps.message.find("line 1 is longer than 4096 bytes"), std::string::npos) << ofSeps.message;
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed memory in quarantine and adds its shadow:
    // the bound holds for the program as it ships.
    EXPECT_LT(grown, 20 * 1024) << grown << " KiB";
#else
    (void)grown;
#endif
}

}  // namespace
