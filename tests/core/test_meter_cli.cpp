// tarvo-cli --meter: the JSON object, the plain lines, the CSV and PNG
// outputs, the one message for a file the meter cannot use, usage errors.
#include "CliRunner.h"
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "meter/Record.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>

using namespace tarvo::test;

namespace {

class MeterCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        Tone left, right;
        left.mods = {{4, 0.001}};
        right.carrier = 1000;
        right.mods = {{20, 0.0005}};
        mono = (dir.Path() / "mono.wav").string();
        stereo = (dir.Path() / "stereo.flac").string();
        ASSERT_TRUE(WriteTone(mono, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 6, left));
        ASSERT_TRUE(WriteTones(stereo, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 6, {left, right}));
    }
    CliResult Run(const std::vector<std::string>& args) { return RunCli(args, dir.Path().string()); }
    TempDir dir;
    std::string mono, stereo;
};

std::vector<std::string> Keys(const nlohmann::ordered_json& j)
{
    std::vector<std::string> k;
    for (auto it = j.begin(); it != j.end(); ++it)
        k.push_back(it.key());
    return k;
}

TEST_F(MeterCli, JsonCarriesTheMeterObjectKeysInOrder)
{
    CliResult r = Run({"--json", "--meter", stereo});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::ordered_json::parse(r.out);
    EXPECT_TRUE(doc["messages"].empty());
    const auto& m = doc["meter"];
    EXPECT_EQ(Keys(m), (std::vector<std::string>{"standard", "channels", "transport"}));
    ASSERT_EQ(m["channels"].size(), 2u);
    const auto& c = m["channels"][0];
    EXPECT_EQ(Keys(c), (std::vector<std::string>{"channel", "carrier_hz", "speed_error_percent", "seconds",
                                                 "weighted", "unweighted", "wow_rms_percent", "flutter_rms_percent",
                                                 "drift_percent", "modulation", "band_high_hz", "snr_db",
                                                 "noise_floor_percent", "noise_floor", "parts", "source"}));
    EXPECT_EQ(Keys(c["noise_floor"]), (std::vector<std::string>{"weighted_two_sigma_percent",
                                                                "unweighted_two_sigma_percent", "flutter_rms_percent"}));
    EXPECT_EQ(c["noise_floor"]["weighted_two_sigma_percent"], c["noise_floor_percent"]);
    EXPECT_TRUE(c["speed_error_percent"].is_null());
    EXPECT_DOUBLE_EQ(c["band_high_hz"].get<double>(), 200.0);
    for (const char* band : {"weighted", "unweighted"})
        EXPECT_EQ(Keys(c[band]), (std::vector<std::string>{"two_sigma_percent", "rms_percent"})) << band;
    EXPECT_EQ(Keys(c["modulation"][0]),
              (std::vector<std::string>{"hz", "percent", "label", "am_percent", "am_fm_coherence", "label_error_hz",
                                        "suggestion"}));
    EXPECT_TRUE(c["modulation"][0]["label_error_hz"].is_null());
    EXPECT_TRUE(c["modulation"][0]["suggestion"].is_null());  // 4 Hz is no platter's turn
    EXPECT_TRUE(c["modulation"][0]["label"].is_null());  // no transport given
    // A clean tone: its AM is no more than its noise gives, so no coherence.
    EXPECT_TRUE(c["modulation"][0]["am_fm_coherence"].is_null());
    EXPECT_TRUE(c["parts"].empty());
    EXPECT_EQ(c["source"], "audio");
    EXPECT_EQ(c["channel"], 1);
    EXPECT_NEAR(c["carrier_hz"].get<double>(), 3150.0, 0.01);
    EXPECT_DOUBLE_EQ(c["seconds"].get<double>(), 6.0);
    EXPECT_NEAR(c["weighted"]["two_sigma_percent"].get<double>(), 0.100, 0.002);
    EXPECT_NEAR(c["unweighted"]["rms_percent"].get<double>(), 0.0707, 0.0015);
    EXPECT_NEAR(c["modulation"][0]["hz"].get<double>(), 4.0, 0.1);
    EXPECT_EQ(m["channels"][1]["channel"], 2);
    EXPECT_NEAR(m["channels"][1]["carrier_hz"].get<double>(), 1000.0, 0.01);
}

TEST_F(MeterCli, PlainOutputIsOneLineAFigure)
{
    CliResult r = Run({"--meter", "--channel", "1", mono});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // The meter alone: no form fields, only its own lines.
    EXPECT_EQ(r.out.find("Chunk Size:"), std::string::npos);
    EXPECT_NE(r.out.find("Meter channel 1 carrier (mean, Hz): 3150.000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Meter channel 1 weighted peak (2-sigma, +-%): 0.09"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Meter channel 1 modulation (peak deviation): 4.00 Hz 0.1000 %"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Meter transport: No transport given\n"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 17);

    // With a form command the fields come first, then the meter's lines.
    r = Run({"--header", "--meter", "--channel", "1", mono});
    EXPECT_EQ(r.out.rfind("Chunk Size: ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Meter channel 1 weighted rms (%): 0.07"), std::string::npos) << r.out;
}

TEST_F(MeterCli, ChannelSelectsOneChannelAndCarrierIsFollowed)
{
    CliResult r = Run({"--json", "--meter", "--channel", "2", "--carrier", "1000", stereo});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::ordered_json::parse(r.out);
    ASSERT_EQ(doc["meter"]["channels"].size(), 1u);
    EXPECT_EQ(doc["meter"]["channels"][0]["channel"], 2);
    EXPECT_NEAR(doc["meter"]["channels"][0]["modulation"][0]["hz"].get<double>(), 20.0, 0.1);
}

TEST_F(MeterCli, NominalGivesTheSpeedErrorOrAMessageWhenFarOff)
{
    Tone fast;
    fast.carrier = 3150 * 1.005;
    const std::string path = (dir.Path() / "fast.wav").string();
    ASSERT_TRUE(WriteTone(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 4, fast));
    CliResult r = Run({"--json", "--meter", "--nominal", "3150", path});
    ASSERT_EQ(r.status, 0) << r.err;
    auto doc = nlohmann::ordered_json::parse(r.out);
    EXPECT_NEAR(doc["meter"]["channels"][0]["speed_error_percent"].get<double>(), 0.5, 0.001);
    r = Run({"--meter", "--nominal", "3150", path});
    EXPECT_NE(r.out.find("Meter channel 1 speed error (%): +0.500\n"), std::string::npos) << r.out;

    // 1000 Hz against 3150 Hz is another tone, not a speed error.
    r = Run({"--json", "--meter", "--channel", "2", "--nominal", "3150", stereo});
    EXPECT_EQ(r.status, 1);
    doc = nlohmann::ordered_json::parse(r.out);
    EXPECT_TRUE(doc["meter"]["channels"][0]["speed_error_percent"].is_null());
    ASSERT_EQ(doc["messages"].size(), 1u);
    EXPECT_NE(doc["messages"][0]["text"].get<std::string>().find("more than 10 % from the nominal 3150.0 Hz"),
              std::string::npos);
}

TEST_F(MeterCli, CsvAndPngAreWritten)
{
    const std::string csv = (dir.Path() / "track.csv").string(), png = (dir.Path() / "plots.png").string();
    CliResult r = Run({"--meter", "--meter-csv", csv, "--meter-png", png, stereo});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::ifstream in(csv);
    std::string line, header;
    int comments = 0;
    while (std::getline(in, line) && line.starts_with("#"))
        ++comments;
    EXPECT_GE(comments, 5);
    EXPECT_EQ(line, "time_s,ch1_deviation_percent,ch1_weighted_percent,ch2_deviation_percent,ch2_weighted_percent");
    std::ifstream p(png, std::ios::binary);
    char sig[8] = {};
    p.read(sig, 8);
    EXPECT_EQ(std::string(sig, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

TEST_F(MeterCli, FileTheMeterCannotUseGivesOneMessageAndNoFigures)
{
    Tone low;
    low.carrier = 30;
    const std::string path = (dir.Path() / "low.wav").string();
    ASSERT_TRUE(WriteTone(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 3, low));
    CliResult r = Run({"--json", "--meter", path});
    EXPECT_EQ(r.status, 1);
    const auto doc = nlohmann::ordered_json::parse(r.out);
    EXPECT_FALSE(doc.contains("meter"));
    ASSERT_EQ(doc["messages"].size(), 1u);
    EXPECT_EQ(doc["messages"][0]["caption"], "Standards W&F");
    EXPECT_EQ(doc["messages"][0]["text"], "No tone between 50 and 20000 Hz in channel 1 of low.wav.");

    r = Run({"--meter", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Standards W&F: No tone between 50 and 20000 Hz in channel 1 of low.wav.\n");
}

TEST_F(MeterCli, TransportNamesTheLinesAndItsParts)
{
    CliResult r = Run({"--json", "--meter", "--channel", "1", "--rpm", "33.333", "--drive-ratio", "0.96",
                       "--motor-poles", "4", mono});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto c = nlohmann::ordered_json::parse(r.out)["meter"]["channels"][0];
    ASSERT_EQ(c["parts"].size(), 4u);
    EXPECT_EQ(c["parts"][0]["name"], "platter");
    EXPECT_NEAR(c["parts"][2]["hz"].get<double>(), 1.0667, 1e-3);  // 2 pole pairs x 0.96 x 0.5556 Hz
    // 4 Hz is no harmonic of a 1.667 Hz platter nor of its 2.5 Hz motor.
    r = Run({"--meter", "--channel", "1", "--rpm", "100", "--drive-ratio", "1.5", mono});
    EXPECT_NE(r.out.find("4.00 Hz 0.1000 % (no part"), std::string::npos) << r.out;
    r = Run({"--meter", "--channel", "1", "--rpm", "80", mono});  // a 1.333 Hz platter
    EXPECT_NE(r.out.find("4.00 Hz 0.1000 % (platter x3 "), std::string::npos) << r.out;
    r = Run({"--json", "--meter", "--channel", "1", "--rpm", "80", mono});
    const auto line = nlohmann::ordered_json::parse(r.out)["meter"]["channels"][0]["modulation"][0];
    EXPECT_EQ(line["label"], "platter x3");
    EXPECT_NEAR(line["label_error_hz"].get<double>(), line["hz"].get<double>() - 4, 1e-3);
    // 4 Hz lies 0.11 Hz over a 33 1/3 rpm platter's 7th harmonic: no part of it.
    r = Run({"--json", "--meter", "--channel", "1", "--rpm", "33.333", mono});
    EXPECT_TRUE(nlohmann::ordered_json::parse(r.out)["meter"]["channels"][0]["modulation"][0]["label"].is_null());
}

// Each transport option at and beyond its range's ends: outside, a usage error naming the range.
TEST_F(MeterCli, TransportOptionsKeepToTheirRanges)
{
    struct Case {
        std::vector<std::string> before;  // what the option needs beside it
        const char* option;
        const char* range;
        std::vector<std::pair<const char*, bool>> values;  // value, taken
    };
    const std::vector<std::string> tt = {"--rpm", "33.333", "--drive-ratio", "1"};
    const std::vector<std::string> tape = {"--tape-speed", "4.76"};
    const std::vector<std::string> capstan = {"--tape-speed", "4.76", "--capstan-mm", "2.4"};
    const Case cases[] = {
        {{}, "--rpm", "1 to 100 rpm", {{"0.99", false}, {"1", true}, {"100", true}, {"100.5", false}}},
        {{"--rpm", "33.333"}, "--drive-ratio", "0.5 to 500", {{"0.49", false}, {"0.5", true}, {"500", true}, {"501", false}}},
        {{}, "--tape-speed", "0.5 to 800 cm/s", {{"0.49", false}, {"0.5", true}, {"800", true}, {"801", false}}},
        {tape, "--capstan-mm", "0.5 to 100 mm",
         {{"1e-300", false}, {"0.49", false}, {"0.5", true}, {"100", true}, {"101", false}}},
        {tape, "--pinch-roller-mm", "1 to 100 mm", {{"0.99", false}, {"1", true}, {"100", true}, {"101", false}}},
        {capstan, "--motor-ratio", "0.1 to 100", {{"0.099", false}, {"0.1", true}, {"100", true}, {"101", false}}},
        {tape, "--reel-mm", "5 to 800 mm",
         {{"4.9,250", false}, {"5,250", true}, {"50,800", true}, {"50,801", false}, {"1e-300,1e4", false},
          {"250,50", false}, {"100,100", false}}},
        {tt, "--motor-poles", "2 to 200", {{"0", false}, {"2", true}, {"200", true}, {"202", false}, {"7", false}}},
        {tt, "--motor-slots", "1 to 300", {{"0", false}, {"1", true}, {"300", true}, {"301", false}, {"2.5", false}}},
    };
    const std::string help = Run({"--help"}).out;
    for (const Case& c : cases) {
        const size_t line = help.find(std::string("  ") + c.option + " ");
        ASSERT_NE(line, std::string::npos) << c.option;
        EXPECT_NE(help.substr(line, help.find('\n', line) - line).find(c.range), std::string::npos)
            << c.option << " " << c.range;
        for (const auto& [value, taken] : c.values) {
            std::vector<std::string> args = {"--meter", "--channel", "1"};
            args.insert(args.end(), c.before.begin(), c.before.end());
            args.insert(args.end(), {c.option, value, mono});
            const CliResult r = Run(args);
            if (taken) {
                EXPECT_EQ(r.status, 0) << c.option << " " << value << ": " << r.err;
                continue;
            }
            EXPECT_EQ(r.status, 2) << c.option << " " << value;
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find(std::string(c.option) + " takes "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(c.range), std::string::npos) << r.err;
        }
    }
}

// The report: one PDF/A page of the paper asked for, naming the limits and
// each channel's verdict. The mono tone moves 0.1 % at 4 Hz: 0.0997 % weighted.
TEST_F(MeterCli, ReportGivesTheLimitsAndTheVerdicts)
{
    const struct Case {
        std::vector<std::string> options;
        int status;
        std::vector<std::string> texts;
        bool stereoFile = false;
    } cases[] = {
        {{"--operator", "Ann Archivist", "--meter-paper", "A4"},
         0,
         {"Limits: no limits given", "Channel 1 verdict: no limits given", "File: " + mono,
          "Format: WAV (Microsoft), Signed 16 bit PCM; 44100 Hz, 16 bit, 1 channel, 6.000 s",
          "Operator: Ann Archivist; machine: none given", "by Tarvo " TARVO_VERSION,
          "Method: carrier found (the strongest tone); nominal tone none given (no speed error)",
          "Bands: weighted (peak at 4 Hz) and unweighted 0.2 to 200 Hz, two-sigma"}},
        {{"--limit-weighted", "0.2", "--meter-paper", "Letter"}, 0, {"Limits: weighted 0.2 %", "Channel 1 verdict: PASS"}},
        {{"--limit-weighted", "0.02", "--limit-speed", "0.5", "--nominal", "3000"},
         3,
         {"Limits: weighted 0.02 %, speed +-0.5 %", "nominal tone 3000 Hz",
          "Channel 1 verdict: FAIL (weighted 0.0997 % over 0.02 %; speed +5.000 % over +-0.5 %)"}},
        // Two channels and a transport still fit one page.
        {{"--rpm", "33.333", "--meter-paper", "Letter"}, 0, {"Channel 2 verdict: no limits given"}, true},
    };
    for (const Case& k : cases) {
        const std::string pdf = (dir.Path() / "report.pdf").string();
        std::vector<std::string> args = {"--meter", "--meter-report", pdf};
        args.insert(args.end(), k.options.begin(), k.options.end());
        const std::string& file = k.stereoFile ? stereo : mono;
        args.push_back(file);
        const CliResult r = Run(args);
        ASSERT_EQ(r.status, k.status) << r.err;
        const std::string flat = PdfText(pdf, dir.Path().string());
        for (const std::string& t : k.texts)
            EXPECT_NE(flat.find(t), std::string::npos) << t << "\n" << flat;
        // The file's own SHA-256, as sha256sum gives it.
        const CliResult sum = RunShell("sha256sum " + ShellQuote(file), dir.Path().string());
        EXPECT_NE(flat.find("SHA-256: " + sum.out.substr(0, 64)), std::string::npos) << flat;
        // PDF/A-1b, with the operator as the author and the verdict as the subject in its XMP.
        std::ifstream in(pdf, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes.rfind("%PDF-1.4", 0), 0u);
        EXPECT_NE(bytes.find("%%EOF", bytes.size() - 16), std::string::npos);
        size_t pages = 0;
        for (size_t at = bytes.find("/Type /Page"); at != std::string::npos; at = bytes.find("/Type /Page", at + 1))
            pages += bytes.compare(at, 12, "/Type /Pages") != 0;
        EXPECT_EQ(pages, 1u);
        // The page in points: A4 595 x 842, Letter 612 x 792.
        const auto paper = std::find(k.options.begin(), k.options.end(), "--meter-paper");
        if (paper != k.options.end()) {
            EXPECT_NE(bytes.find(paper[1] == "Letter" ? "/MediaBox [0 0 612" : "/MediaBox [0 0 595"), std::string::npos);
        }
        EXPECT_FALSE(std::filesystem::exists(pdf + ".part"));
        EXPECT_NE(bytes.find("<pdfaid:part>1</pdfaid:part>"), std::string::npos);
        EXPECT_NE(bytes.find("<pdfaid:conformance>B</pdfaid:conformance>"), std::string::npos);
        const bool limited = std::find(k.options.begin(), k.options.end(), "--limit-weighted") != k.options.end();
        const std::string verdict = k.status == 3 ? "FAIL" : limited ? "PASS" : "no limits given";
        EXPECT_NE(bytes.find(">" + std::filesystem::path(file).filename().string() + ": " + verdict + "</rdf:li>"), std::string::npos) << verdict;
        EXPECT_EQ(bytes.find("<rdf:li>Ann Archivist</rdf:li>") != std::string::npos, k.options.front() == "--operator");
    }
}

// The JSON's "record": what was measured, when, by which program and whom.
TEST_F(MeterCli, JsonRecordsTheFileAndWhoMeasuredIt)
{
    const CliResult r = Run({"--json", "--meter", "--operator", "Ann", stereo});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::ordered_json::parse(r.out);
    ASSERT_TRUE(doc.contains("record")) << r.out;
    const auto& rec = doc["record"];
    EXPECT_EQ(Keys(rec), (std::vector<std::string>{"path", "bytes", "sha256", "format", "sample_rate", "bits",
                                                    "channels", "measured_at", "program_version", "operator",
                                                    "deck"}));
    EXPECT_EQ(rec["path"], stereo);
    EXPECT_EQ(rec["bytes"], std::filesystem::file_size(stereo));
    const CliResult sum = RunShell("sha256sum " + ShellQuote(stereo), dir.Path().string());
    EXPECT_EQ(rec["sha256"], sum.out.substr(0, 64));
    EXPECT_EQ(rec["format"], "FLAC (Free Lossless Audio Codec), Signed 16 bit PCM");
    EXPECT_EQ(rec["sample_rate"], 48000);
    EXPECT_EQ(rec["bits"], 16);
    EXPECT_EQ(rec["channels"], 2);
    EXPECT_TRUE(std::regex_match(rec["measured_at"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << rec["measured_at"];
    EXPECT_EQ(rec["program_version"], TARVO_VERSION);
    EXPECT_EQ(rec["operator"], "Ann");
    EXPECT_TRUE(rec["deck"].is_null());
    // A file the meter cannot measure keeps its record beside the message.
    dir.Write("notes.wav", "not a sound");
    const CliResult bad = Run({"--json", "--meter", (dir.Path() / "notes.wav").string()});
    const auto badDoc = nlohmann::ordered_json::parse(bad.out);
    EXPECT_FALSE(badDoc.contains("meter"));
    EXPECT_EQ(badDoc["record"]["bytes"], 11);
    EXPECT_EQ(badDoc["record"]["operator"], nullptr);
}

TEST_F(MeterCli, SpeedLogHasNoCarrier)
{
    const std::string log = (dir.Path() / "speed.csv").string();
    {
        std::ofstream out(log);
        out << "Time (s),Speed (rpm)\n";
        for (int i = 0; i < 3000; ++i)
            out << i / 500.0 << "," << 45 * (1 + 0.002 * std::sin(2 * 3.14159265358979 * 1.5 * i / 500.0)) << "\n";
    }
    CliResult r = Run({"--json", "--meter", "--rpm", "45", log});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto c = nlohmann::ordered_json::parse(r.out)["meter"]["channels"][0];
    EXPECT_TRUE(c["carrier_hz"].is_null());
    EXPECT_EQ(c["source"], "speed log");
    EXPECT_NEAR(c["modulation"][0]["hz"].get<double>(), 1.5, 0.05);
    EXPECT_NEAR(c["modulation"][0]["percent"].get<double>(), 0.2, 0.01);
    EXPECT_EQ(c["modulation"][0]["label"], "platter x2");
    EXPECT_TRUE(c["snr_db"].is_null());
    EXPECT_TRUE(c["noise_floor_percent"].is_null());

    // Its rows are its track: no deviation CSV, and a message that says why.
    r = Run({"--meter", "--meter-csv", "track.csv", log});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("speed.csv is a speed log, whose own rows are its track"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "track.csv"));
}

TEST_F(MeterCli, UsageErrors)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--meter"},
        {"--carrier", "3150", mono},
        {"--meter", "--carrier", "40", mono},
        {"--meter", "--carrier", "3k", mono},
        {"--meter", "--channel", "0", mono},
        {"--meter", "--channel", "left", mono},
        {"--meter", "--channel", "1.5", mono},
        {"--meter", "--meter-png"},
        {"--meter", "--rpm", "33.333", "--tape-speed", "4.76", mono},
        {"--meter", "--rpm", "45", "--motor-poles", "4", mono},
        {"--meter", "--tape-speed", "4.76", "--reel-mm", "90", mono},
        {"--meter", "--capstan-mm", "2.4", mono},
        {"--meter", "--meter-paper", "A3", mono},
        {"--meter", "--nominal", "0", mono},
        {"--meter", "--nominal", "fast", mono},
        {"--meter", "--from", "-1", mono},
        {"--meter", "--from", "later", mono},
        {"--meter", "--to", "0", mono},
        {"--meter", "--from", "4", "--to", "3", mono},
        {"--meter", "--to", "3", "--from", "4", mono},
        {"--from", "1", mono},
    };
    for (const auto& args : cases) {
        CliResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args.front() << " " << args.size();
        EXPECT_EQ(r.out, "");
    }
    // A motor ratio without a capstan: refused, and said why.
    const CliResult r = Run({"--meter", "--tape-speed", "4.76", "--motor-ratio", "3", mono});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--motor-ratio needs --capstan-mm"), std::string::npos) << r.err;
}

// A stretch is named in the output; one past the end, or too short, gives a message and no figures.
TEST_F(MeterCli, StretchIsNamedInTheOutput)
{
    CliResult r = Run({"--json", "--meter", "--from", "1", "--to", "4.5", "--channel", "1", mono});
    ASSERT_EQ(r.status, 0) << r.err;
    auto doc = nlohmann::ordered_json::parse(r.out);
    EXPECT_EQ(Keys(doc["meter"]), (std::vector<std::string>{"standard", "stretch", "channels", "transport"}));
    EXPECT_EQ(doc["meter"]["stretch"], (nlohmann::ordered_json{{"from", 1.0}, {"to", 4.5}}));
    EXPECT_DOUBLE_EQ(doc["meter"]["channels"][0]["seconds"].get<double>(), 3.5);
    r = Run({"--meter", "--from", "2", mono});
    EXPECT_NE(r.out.find("Meter stretch (s): 2.000 to 6.000\n"), std::string::npos) << r.out;
    for (const auto& [from, to] : {std::pair<const char*, const char*>{"5", "9"}, {"5", "6"}}) {
        r = Run({"--meter", "--from", from, "--to", to, mono});
        EXPECT_EQ(r.status, 1) << from << " " << to;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(std::string(to) == "9" ? "lies outside mono.wav, which lasts 6.000 s" : "at least 2 seconds"),
                  std::string::npos)
            << r.err;
    }
}

}  // namespace

// SHA-256 of FIPS 180-2's examples and of nothing; a failed read is said.
TEST(FileRecord, Sha256OfKnownTexts)
{
    TempDir dir;
    const struct {
        std::string text;
        const char* sha256;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.Write("known", c.text);
        const int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        uint64_t bytes = 0;
        std::string why;
        EXPECT_EQ(tarvo::meter::Sha256Of(fd, bytes, why), c.sha256) << c.text.substr(0, 20);
        EXPECT_EQ(bytes, c.text.size());
        ::close(fd);
    }
    // A descriptor that cannot be read: no digest, and why.
    const int dirFd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    uint64_t bytes = 0;
    std::string why;
    EXPECT_EQ(tarvo::meter::Sha256Of(dirFd, bytes, why), "");
    EXPECT_NE(why, "");
    ::close(dirFd);
}
