// tarvo-cli as users script it: field lines, JSON, exit statuses.
#include "CliRunner.h"
#include "WaveBuilder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

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

TEST_F(Cli, RangePromptIsAMessageAndTheCommandCarriesOn)
{
    std::string file = dir.Write("t.wav", Wave8(8000, Silence(24000)));
    CliResult r = Run({"--chunk", "1024", "--high", "13000", "--header", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Quillon: Please enter a number between 2000 and 12000.\n");
    EXPECT_NE(r.out.find("Chunks: 23\n"), std::string::npos);
    EXPECT_NE(r.out.find("High Freq: 3900\n"), std::string::npos);
}

TEST_F(Cli, MissingFileIsReportedThenUntitledIsRead)
{
    CliResult r = Run({"--header", "no such.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Quillon: Cannot open the file \"no such.wav\".\n"
              "Error: Cannot read input WAVE file\n");
}

TEST_F(Cli, UsageErrors)
{
    for (auto args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--chunk", "300"}, {"--chunk"}, {"--png"}, {"--list"}, {"a.wav", "b.wav"}}) {
        CliResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find("usage: tarvo-cli"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    CliResult help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--header"), std::string::npos);
}

TEST_F(Cli, PngIsWrittenOrReported)
{
    CliResult r = Run({"--png", "out.png"});
    EXPECT_EQ(r.status, 0);
    std::ifstream f(dir.Path() / "out.png", std::ios::binary);
    char sig[8] = {};
    f.read(sig, 8);
    EXPECT_EQ(std::string(sig, 8), "\x89PNG\r\n\x1a\n");
    r = Run({"--png", "missing/folder/out.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos);
}

}  // namespace
