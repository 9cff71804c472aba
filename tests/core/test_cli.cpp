// tarvo-cli as users script it: field lines, JSON, exit statuses.
#include "CliRunner.h"
#include "ToneFile.h"
#include "WaveBuilder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cstdio>

using namespace tarvo::test;

namespace {

class Cli : public ::testing::Test {
protected:
    CliResult Run(const std::vector<std::string>& args) { return RunCli(args, dir.Path().string()); }
    TempDir dir;
};

TEST_F(Cli, HeaderPrintsTheWorkedRow)
{
    std::string file = dir.Write("tone.wav", Wave8(11025, Silence(55125)));
    CliResult r = Run({"--chunk", "256", "--header", file});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Chunk Size: 256\n"
              "High Freq: 5412.5\n"
              "Low Freq: 20\n"
              "High Amp: 5\n"
              "Wow&Flutter: \n"
              "Sample Rate: 11025\n"
              "Bits/sample: 8\n"
              "Data Size: 55125\n"
              "Chunks: 215\n"
              "Delta Freq: 43.066 Hz\n"
              "Delta T: 23.2 msec\n"
              "Aver Freq: \n"
              "Chunk: \n"
              "Duration: 5. sec\n"
              "Displayed: 4.99 sec\n"
              "Comment: \n");
}

TEST_F(Cli, JsonCarriesFieldsAndMessages)
{
    std::string file = dir.Write("stereo \"x\".wav",
                                 Riff({Chunk("fmt ", FmtData(8000, 2)), Chunk("data", Silence(10))}));
    CliResult r = Run({"--json", "--comment", "tab\there", "--header", file});
    EXPECT_EQ(r.status, 1);
    auto doc = nlohmann::ordered_json::parse(r.out);
    auto fields = doc.at("fields");
    EXPECT_EQ(fields.begin().key(), "Chunk Size");
    EXPECT_EQ(fields.at("Chunk Size"), "256");
    EXPECT_EQ(fields.at("High Freq"), "8000");
    EXPECT_EQ(fields.at("Aver Freq"), "No WAV file");
    EXPECT_EQ(fields.at("Comment"), "tab\there");
    EXPECT_EQ(doc.at("messages"), nlohmann::ordered_json::parse(
                                      R"([{"caption": "Error", "text": "Input file must be an 8-bit mono PCM WAVE file"}])"));
}

// Strict UTF-8: no overlong form, no surrogate, nothing past U+10FFFF.
bool IsStrictUtf8(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xF0 && c < 0xF5 ? 4 : 0;
        if (len == 0 || i + len > s.size())
            return false;
        std::uint32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
        for (size_t k = 1; k < len; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += len;
    }
    return true;
}

TEST_F(Cli, JsonIsStrictUtf8WhateverTheBytes)
{
    const std::string bad[] = {"\xF5", "\xFF", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC0\xAF", "\x80"};
    for (const std::string& b : bad) {
        CliResult typed = Run({"--json", "--comment", "a" + b + "z"});
        EXPECT_TRUE(IsStrictUtf8(typed.out)) << typed.out;
        const std::string comment = nlohmann::ordered_json::parse(typed.out).at("fields").at("Comment");
        EXPECT_EQ(comment.front(), 'a');
        EXPECT_EQ(comment.back(), 'z');
        EXPECT_NE(comment.find("\xEF\xBF\xBD"), std::string::npos) << b.size();  // U+FFFD
        CliResult named = Run({"--json", "no such " + b + ".wav"});
        EXPECT_TRUE(IsStrictUtf8(named.out)) << named.out;
        auto doc = nlohmann::ordered_json::parse(named.out);
        EXPECT_NE(doc.at("messages").at(0).at("text").get<std::string>().find("\xEF\xBF\xBD"), std::string::npos);
    }
    // Well-formed text passes unchanged, a backslash escaped.
    CliResult r = Run({"--json", "--comment", "\xE2\x82\xAC \xF4\x8F\xBF\xBF a\\b", "--high-amp", "7.5"});
    EXPECT_NE(r.out.find("\"Comment\":\"\xE2\x82\xAC \xF4\x8F\xBF\xBF a\\\\b\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"High Amp\":\"7.5\""), std::string::npos) << r.out;
}

TEST_F(Cli, TypedSettingsAreOneLine)
{
    for (const char* opt : {"--comment", "--low", "--high", "--high-amp"}) {
        for (const char* v : {"x\nSample Rate: 99999", "5\r"}) {
            CliResult r = Run({opt, v, "--header"});
            EXPECT_EQ(r.status, 2) << opt;
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find(std::string(opt) + " takes one line of text"), std::string::npos) << r.err;
        }
    }
}

TEST_F(Cli, RangePromptIsAMessageAndTheCommandCarriesOn)
{
    std::string file = dir.Write("t.wav", Wave8(8000, Silence(24000)));
    CliResult r = Run({"--chunk", "1024", "--high", "13000", "--header", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Quillon: Please enter a number between 2000 and 12000.\n");
    EXPECT_NE(r.out.find("Chunks: 23\n"), std::string::npos);
    EXPECT_NE(r.out.find("High Freq: 3900\n"), std::string::npos);
}

TEST_F(Cli, FileThatCannotBeOpenedEndsTheRunWithItsOneMessage)
{
    CliResult r = Run({"--header", "--save-data", "out.txt", "no such.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Quillon: Cannot open the file \"no such.wav\".\n");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "out.txt"));
}

TEST_F(Cli, SaveDataWritesTheTrackAndListPrintsIt)
{
    // 1000 Hz at 8000 Hz: three chunks of 256 with their peak at 1000 Hz.
    std::string file = dir.Write("tone.wav", Wave8(8000, Sine(768, 1000, 8000)));
    CliResult r = Run({"--comment", " A", "--freqs", "--save-data", "out", "--list", file});
    EXPECT_EQ(r.status, 0) << r.err;
    std::ifstream f(dir.Path() / "out", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // Line 1 the file's full path and the comment; line 2 the clock's date and
    // time; then the header figures and the track.
    const std::string line1 = (dir.Path() / "out").string() + " A\r\n";
    ASSERT_EQ(text.substr(0, line1.size()), line1) << text;
    const size_t line2End = text.find("\r\n", line1.size());
    ASSERT_NE(line2End, std::string::npos);
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char ampm[3] = {};
    EXPECT_EQ(std::sscanf(text.substr(line1.size(), line2End - line1.size()).c_str(), "%d/%d/%d %2d:%2d:%2d %2s",
                          &month, &day, &year, &hour, &minute, &second, ampm),
              7)
        << text;
    EXPECT_TRUE(std::string(ampm) == "AM" || std::string(ampm) == "PM") << ampm;
    EXPECT_EQ(text.substr(line2End + 2),
              "768\r\n8000\r\n256\r\n31.25 Hz\r\n999.99921\r\n999.99921\r\n999.99921\r\n");
    EXPECT_NE(r.out.find("Comment:  A\n1\t0.03200\t999.9992\n2\t0.06400\t999.9992\n3\t0.09600\t999.9992\n"),
              std::string::npos)
        << r.out;

    r = Run({"--json", "--freqs", "--list", file});
    auto doc = nlohmann::ordered_json::parse(r.out);
    EXPECT_EQ(doc.at("list"), "1\t0.03200\t999.9992\r\n2\t0.06400\t999.9992\r\n3\t0.09600\t999.9992\r\n");
    r = Run({"--json", "--header", "--list", file});
    doc = nlohmann::ordered_json::parse(r.out);
    EXPECT_TRUE(doc.at("list").is_null());
    EXPECT_EQ(doc.at("messages"), nlohmann::ordered_json::parse(
                                      R"([{"caption": "Quillon", "text": "No Frequencies in file."}])"));
    EXPECT_FALSE(nlohmann::ordered_json::parse(Run({"--json", file}).out).contains("list"));
}

TEST_F(Cli, UnwritableOutputsAreAmongTheJsonMessages)
{
    CliResult r = Run({"--json", "--save-data", "/dev/full", "--png", "missing/out.png"});
    EXPECT_EQ(r.status, 1);
    auto messages = nlohmann::ordered_json::parse(r.out).at("messages");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].at("text"), "Cannot write the file \"/dev/full\": No space left on device.");
    EXPECT_EQ(messages[1].at("caption"), "tarvo-cli");
    EXPECT_EQ(messages[1].at("text"), "Cannot write the file \"missing/out.png\": No such file or directory.");
}

TEST_F(Cli, UsageErrors)
{
    for (auto args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--chunk", "300"}, {"--chunk"}, {"--png"}, {"--save-data"}, {"a.wav", "b.wav"}}) {
        CliResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find("usage: tarvo-cli"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    CliResult help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    // Every setting and command on a line of its own (the man page is made
    // from this text).
    for (const char* opt : {"--chunk", "--low", "--high", "--high-amp", "--comment", "--rec-file", "--header",
                            "--freqs", "--wow", "--spectrogram", "--clear", "--add-comments", "--save-data", "--list",
                            "--png", "--ply", "--wn", "--3khz", "--stop", "--rec", "--meter", "--carrier", "--channel",
                            "--meter-csv", "--meter-png", "--json", "--help", "--version"}) {
        const std::string line = "\n  " + std::string(opt) + " ";
        const size_t at = help.out.find(line);
        EXPECT_NE(at, std::string::npos) << opt;
        EXPECT_EQ(help.out.find(line, at + 1), std::string::npos) << opt;
    }
    CliResult version = Run({"--version"});
    EXPECT_EQ(version.out.substr(0, version.out.find('\n') + 1), "tarvo-cli " TARVO_VERSION "\n");
    EXPECT_NE(version.out.find("GPL-3.0-or-later"), std::string::npos) << version.out;
}

TEST_F(Cli, PngIsWrittenOrReported)
{
    CliResult r = Run({"--png", "out.png"});
    EXPECT_EQ(r.status, 0);
    std::ifstream f(dir.Path() / "out.png", std::ios::binary);
    char sig[8] = {};
    f.read(sig, 8);
    EXPECT_EQ(std::string(sig, 8), "\x89PNG\r\n\x1a\n");
    // Each output that cannot be written is reported once and never as
    // success. (A read-only file stops no one running as root.)
    std::string readOnly = dir.Write("read-only.png", std::string("x"));
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read);
    std::vector<std::string> outputs = {"missing/folder/out.png", "/dev/full"};
    if (::geteuid() != 0)
        outputs.push_back(readOnly);
    for (const std::string& out : outputs) {
        r = Run({"--png", out});
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_EQ(r.err.rfind("tarvo-cli: cannot write " + out + ": ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST_F(Cli, NoOutputGoesOverTheInput)
{
    // Each output named as the input itself, or by a hard link to it: one
    // message, exit 1, and the recording is left whole. The meter measures
    // nothing then.
    WriteTones((dir.Path() / "v.wav").string(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 2.5, {Tone{3000, {}}});
    const std::string before = dir.Read("v.wav");
    ASSERT_GT(before.size(), 40000u);
    ASSERT_EQ(::link((dir.Path() / "v.wav").c_str(), (dir.Path() / "same.wav").c_str()), 0);
    const std::string meterMessage = "Cannot write the file \"v.wav\": it is the input file.";
    struct Case {
        std::vector<std::string> args;
        std::string message;  // the one message, as --json gives it
    } cases[] = {
        {{"--meter", "--meter-csv", "v.wav", "v.wav"}, meterMessage},
        {{"--meter", "--meter-png", "v.wav", "v.wav"}, "Cannot write the file \"v.wav\": it is the input file."},
        {{"--meter", "--meter-csv", "same.wav", "v.wav"}, "Cannot write the file \"same.wav\": it is the input file."},
        {{"--png", "v.wav", "v.wav"}, "Cannot write the file \"v.wav\": it is the input file."},
        // The save dialog's answer, as it names it: in the folder it shows.
        {{"--save-data", "./v.wav", "v.wav"},
         "Cannot write the file \"" + (dir.Path() / "." / "v.wav").string() + "\": it is the input file."},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--json");
        CliResult r = Run(args);
        EXPECT_EQ(r.status, 1) << c.args[1];
        const auto json = nlohmann::ordered_json::parse(r.out);
        ASSERT_EQ(json.at("messages").size(), 1u) << r.out;
        EXPECT_EQ(json.at("messages")[0].at("text"), c.message);
        EXPECT_FALSE(json.contains("meter"));
        EXPECT_EQ(dir.Read("v.wav"), before) << c.args[1];
    }
    // Without --json the same one message, and no doubled full stop.
    CliResult r = Run({"--meter", "--meter-csv", "v.wav", "v.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.find(".."), std::string::npos) << r.err;
    EXPECT_EQ(dir.Read("v.wav"), before);
}

TEST_F(Cli, AnOutputThatFailsLeavesTheOldFileWholeAndNoTemporaryFile)
{
    // The track CSV of a file the meter refuses (too short): the old CSV
    // stays as it was, and no temporary file is left beside it.
    WriteTones((dir.Path() / "short.wav").string(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 0.5, {Tone{3000, {}}});
    dir.Write("old.csv", std::string("old,track\n"));
    CliResult r = Run({"--meter", "--meter-csv", "old.csv", "short.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.Read("old.csv"), "old,track\n");
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    // A good run replaces it whole.
    WriteTones((dir.Path() / "long.wav").string(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 2.5, {Tone{3000, {}}});
    r = Run({"--meter", "--meter-csv", "old.csv", "long.wav"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(dir.Read("old.csv").starts_with("# Tarvo")) << dir.Read("old.csv").substr(0, 40);
}

}  // namespace
