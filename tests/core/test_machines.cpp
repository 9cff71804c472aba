// Machine profiles: the store, its hostile forms, its place, the transport
// line, and tarvo-cli's --save-deck, --list-decks and --deck.
#include "CliRunner.h"
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "meter/Machines.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

using namespace tarvo::test;
using tarvo::meter::Machine;
using tarvo::meter::Transport;
namespace fs = std::filesystem;
namespace meter = tarvo::meter;

namespace {

Transport Turntable(double rpm, double ratio = 0, int poles = 0, int slots = 0)
{
    return {.rpm = rpm, .driveRatio = ratio, .motorPoles = poles, .motorSlots = slots};
}

Transport Tape(double speed, double capstan = 0, double pinch = 0, double ratio = 0, double reelMin = 0,
               double reelMax = 0)
{
    return {.tapeSpeedCmS = speed, .capstanMm = capstan, .pinchRollerMm = pinch, .motorRatio = ratio,
            .reelMinMm = reelMin, .reelMaxMm = reelMax};
}

bool Same(const Transport& a, const Transport& b)
{
    return a.rpm == b.rpm && a.driveRatio == b.driveRatio && a.tapeSpeedCmS == b.tapeSpeedCmS &&
           a.capstanMm == b.capstanMm && a.pinchRollerMm == b.pinchRollerMm && a.motorRatio == b.motorRatio &&
           a.reelMinMm == b.reelMinMm && a.reelMaxMm == b.reelMaxMm && a.motorPoles == b.motorPoles &&
           a.motorSlots == b.motorSlots;
}

// An environment variable set for one scope, put back as it was after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

const std::vector<Machine>& SomeMachines()
{
    static const std::vector<Machine> machines = {
        {"Bench turntable", "Belt drive, 24-pole synchronous motor", Turntable(100.0 / 3, 7.5, 24)},
        {"Deck B", "Open reel, two-track", Tape(19.05, 12.5, 25, 2, 60, 265)},
        {"Direct", "", Turntable(45, 1, 12, 18)},
        {"Cassette \xC3\xA9t\xC3\xA9 \xE2\x80\x94 no. 2", "M\xC3\xBCller's, 4.76 cm/s", Tape(4.76, 2.4)},
        {"Unknown machine", "Parts not known yet", Transport()},
    };
    return machines;
}

// Profiles read back exactly (33 1/3 rpm to the last bit), in order.
TEST(Machines, StoreReadsBackWhatWasWritten)
{
    TempDir dir;
    const std::string path = (dir.Path() / "tarvo" / "decks").string();
    std::string why;
    ASSERT_TRUE(meter::WriteMachines(path, SomeMachines(), why)) << why;
    struct stat st {};
    ASSERT_EQ(::stat((dir.Path() / "tarvo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);  // the folder made for it is the user's alone
    std::vector<Machine> back;
    ASSERT_TRUE(meter::ReadMachines(path, back, why)) << why;
    ASSERT_EQ(back.size(), SomeMachines().size());
    for (size_t i = 0; i < back.size(); ++i) {
        SCOPED_TRACE(SomeMachines()[i].name);
        EXPECT_EQ(back[i].name, SomeMachines()[i].name);
        EXPECT_EQ(back[i].description, SomeMachines()[i].description);
        EXPECT_TRUE(Same(back[i].transport, SomeMachines()[i].transport));
    }
}

// A hand-written store: comments, blank lines, CR LF, stray spaces.
TEST(Machines, StoreWrittenByHandIsRead)
{
    const std::string text = "# my decks\r\n\r\n  [Deck B]\r\ndescription=Open reel\r\n tape-speed =  9.53 \r\n"
                             "reel-mm = 50, 180\r\n# done\r\n";
    std::vector<Machine> machines;
    std::string why;
    ASSERT_TRUE(meter::ParseMachines(text, machines, why)) << why;
    ASSERT_EQ(machines.size(), 1u);
    EXPECT_EQ(machines[0].name, "Deck B");
    EXPECT_EQ(machines[0].description, "Open reel");
    EXPECT_TRUE(Same(machines[0].transport, Tape(9.53, 0, 0, 0, 50, 180)));
}

// Each store refused names its line and what is wrong there.
TEST(Machines, HostileStoreTextIsRefusedWithItsLine)
{
    std::string many;
    for (size_t i = 0; i <= meter::kMostMachines; ++i)
        many += "[m" + std::to_string(i) + "]\nrpm = 45\n";
    const struct {
        const char* what;
        std::string text;
        const char* why;
    } cases[] = {
        {"a name twice", "[A]\nrpm = 45\n[B]\n[A]\n", "line 4: the profile \"A\" is given twice"},
        {"a ']' in a name", "[A]B]\n", "line 1: A profile's name has none of"},
        {"a name not closed", "[A\nrpm = 45\n", "line 1: a profile's name ends with ']'"},
        {"an empty name", "[]\n", "line 1: A profile needs a name"},
        {"a name too long", "[" + std::string(65, 'n') + "]\n", "line 1: A profile's name is at most 64 bytes"},
        {"a name not UTF-8", "[Deck \xFF]\n", "line 1: A profile's name is UTF-8 text"},
        {"a key before a name", "rpm = 45\n", "line 1: a key before any [name]"},
        {"a line of neither", "[A]\nrpm 45\n", "line 2: a line is a [name]"},
        {"an unknown key", "[A]\nspeed = 45\n", "line 2: \"speed\" is not a key of a profile"},
        {"a key twice", "[A]\nrpm = 45\nrpm = 33\n", "line 3: rpm is given twice"},
        {"a figure out of range", "[A]\nrpm = 1000\n", "line 2: rpm takes a figure from 1 to 100 rpm"},
        {"not a figure", "[A]\nrpm = fast\n", "line 2: rpm takes a figure"},
        {"infinity", "[A]\nrpm = inf\n", "line 2: rpm takes a figure"},
        {"odd poles", "[A]\nrpm = 45\ndrive-ratio = 2\nmotor-poles = 7\n", "line 4: motor-poles takes"},
        {"reels of one size", "[A]\ntape-speed = 4.76\nreel-mm = 50,50\n", "line 3: reel-mm takes MIN,MAX"},
        {"reels the wrong way", "[A]\ntape-speed = 4.76\nreel-mm = 100,50\n", "line 3: reel-mm takes MIN,MAX"},
        {"kinds mixed", "[A]\nrpm = 45\ntape-speed = 4.76\n", "line 1: the profile \"A\": A turntable's"},
        {"reels on a turntable", "[A]\nrpm = 45\nreel-mm = 50,100\n", "line 1: the profile \"A\": A turntable's"},
        {"a capstan with no tape speed", "[A]\ncapstan-mm = 5\n", "line 1: the profile \"A\": capstan-mm"},
        {"a motor with no ratio", "[A]\nrpm = 45\nmotor-poles = 4\n", "line 1: the profile \"A\": motor-poles"},
        {"a ratio with no speed", "[A]\ndrive-ratio = 3\n", "line 1: the profile \"A\": drive-ratio needs rpm"},
        {"a description of two lines", "[A]\ndescription = one\x0btwo\n", "line 2: A profile's description is one line"},
        {"a line too long", "[A]\ndescription = " + std::string(2000, 'd') + "\n", "line 2: a line is at most"},
        {"binary", std::string("\x7f" "ELF\x02\x01\x01\0\0\0\0", 12), "line 1: a line is a [name]"},
        {"too many profiles", many, "a store holds at most 200 profiles"},
        {"too large", std::string(meter::kLargestMachineFile + 1, '#'), "larger than 64 KiB"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        std::vector<Machine> machines;
        std::string why;
        EXPECT_FALSE(meter::ParseMachines(k.text, machines, why));
        EXPECT_NE(why.find(k.why), std::string::npos) << why;
        EXPECT_TRUE(machines.empty());
    }
}

// A name that would break the store's lines is refused; the store is left as it was.
TEST(Machines, NamesThatWouldBreakTheStoreAreRefused)
{
    TempDir dir;
    const std::string path = dir.Write("decks", "[A]\nrpm = 45\n");
    const char* names[] = {"Deck\nB", "Deck\rB", "[Deck]", "A]\n[B", "x=y", "# note", " Deck", "Deck ", "",
                           "Deck\tB", "\xC3"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(meter::MachineNameFault(name).empty());
        std::string why;
        EXPECT_FALSE(meter::SaveMachine(path, {name, "", Turntable(33)}, why));
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(dir.Read("decks"), "[A]\nrpm = 45\n");
    }
    std::string why;
    EXPECT_FALSE(meter::SaveMachine(path, {"B", "two\nlines", Turntable(33)}, why));
    EXPECT_EQ(dir.Read("decks"), "[A]\nrpm = 45\n");
}

// Save adds or replaces by name, delete removes one; an unreadable store is never written over.
TEST(Machines, SaveReplacesByNameAndNeverWritesOverAStoreItCannotRead)
{
    TempDir dir;
    const std::string path = (dir.Path() / "decks").string();
    std::string why;
    bool replaced = true;
    ASSERT_TRUE(meter::SaveMachine(path, {"A", "first", Turntable(45)}, why, &replaced)) << why;
    EXPECT_FALSE(replaced);
    ASSERT_TRUE(meter::SaveMachine(path, {"B", "", Tape(4.76)}, why, &replaced)) << why;
    ASSERT_TRUE(meter::SaveMachine(path, {"A", "second", Turntable(78)}, why, &replaced)) << why;
    EXPECT_TRUE(replaced);
    std::vector<Machine> machines;
    ASSERT_TRUE(meter::ReadMachines(path, machines, why)) << why;
    ASSERT_EQ(machines.size(), 2u);
    EXPECT_EQ(machines[0].name, "A");
    EXPECT_EQ(machines[0].description, "second");
    EXPECT_EQ(machines[0].transport.rpm, 78);
    ASSERT_TRUE(meter::DeleteMachine(path, "A", why)) << why;
    ASSERT_TRUE(meter::ReadMachines(path, machines, why)) << why;
    ASSERT_EQ(machines.size(), 1u);
    EXPECT_EQ(machines[0].name, "B");

    const std::string broken = "[A]\nrpm = 45\n[A]\n";
    dir.Write("decks", broken);
    EXPECT_FALSE(meter::SaveMachine(path, {"C", "", Turntable(45)}, why));
    EXPECT_NE(why.find("line 3"), std::string::npos) << why;
    EXPECT_FALSE(meter::DeleteMachine(path, "A", why));
    EXPECT_EQ(dir.Read("decks"), broken);
}

// Missing is empty, links are followed; what is not a store is refused without waiting.
TEST(Machines, HostileStoreFilesAreRefusedWithoutWaiting)
{
    TempDir dir;
    const std::string folder = dir.Path().string();
    dir.Write("real", "[A]\nrpm = 45\n");
    ASSERT_EQ(::symlink((folder + "/real").c_str(), (folder + "/link").c_str()), 0);
    ASSERT_EQ(::symlink((folder + "/nowhere").c_str(), (folder + "/dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((folder + "/fifo").c_str(), 0600), 0);
    fs::create_directory(folder + "/folder");
    dir.Write("huge", std::string(10 * 1024 * 1024, '#'));
    dir.Write("binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    const struct {
        const char* name;
        bool read;
        size_t profiles;
        const char* why;
    } cases[] = {
        {"missing", true, 0, ""},
        {"real", true, 1, ""},
        {"link", true, 1, ""},
        {"dangling", true, 0, ""},
        {"fifo", false, 0, "not a regular file"},
        {"folder", false, 0, "not a regular file"},
        {"/dev/zero", false, 0, "not a regular file"},
        {"huge", false, 0, "larger than 64 KiB"},
        {"binary", false, 0, "line 1"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string path = k.name[0] == '/' ? std::string(k.name) : folder + "/" + k.name;
        std::vector<Machine> machines;
        std::string why;
        EXPECT_EQ(meter::ReadMachines(path, machines, why), k.read) << why;
        EXPECT_EQ(machines.size(), k.profiles);
        EXPECT_NE(why.find(k.why), std::string::npos) << why;
        if (!k.read) {
            EXPECT_NE(why.find(path), std::string::npos) << why;
        }
    }
}

// XDG_CONFIG_HOME when absolute, else HOME's .config; with neither, none.
TEST(Machines, StoreIsUnderXdgConfigHomeOrHome)
{
    const struct {
        const char* xdg;
        const char* home;
        const char* path;
    } cases[] = {
        {"/cfg", "/home/u", "/cfg/tarvo/decks"},
        {nullptr, "/home/u", "/home/u/.config/tarvo/decks"},
        {"", "/home/u", "/home/u/.config/tarvo/decks"},
        {"relative/cfg", "/home/u", "/home/u/.config/tarvo/decks"},
        {nullptr, nullptr, ""},
        {"/cfg", nullptr, "/cfg/tarvo/decks"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(k.xdg ? k.xdg : "(unset)") + " " + (k.home ? k.home : "(unset)"));
        ScopedEnv xdg("XDG_CONFIG_HOME", k.xdg);
        ScopedEnv home("HOME", k.home);
        EXPECT_EQ(meter::MachinesPath(), k.path);
    }
}

TEST(Machines, TransportLineNamesTheMachine)
{
    const struct {
        Transport t;
        const char* line;
    } cases[] = {
        {Transport(), "No transport given"},
        {Turntable(100.0 / 3, 7.5, 24), "Turntable 33 1/3 rpm, belt 7.5:1, 24-pole motor"},
        {Turntable(33.333), "Turntable 33 1/3 rpm"},
        {Turntable(50.0 / 3), "Turntable 16 2/3 rpm"},
        {Turntable(22.5), "Turntable 22 1/2 rpm"},
        {Turntable(45, 1), "Turntable 45 rpm, direct drive"},
        {Turntable(78, 3, 4, 12), "Turntable 78 rpm, belt 3:1, 4-pole 12-slot motor"},
        {Turntable(33), "Turntable 33 rpm"},
        {Tape(19.05, 12.5, 25, 2, 60, 265),
         "Tape 19.05 cm/s, capstan 12.5 mm, pinch roller 25 mm, motor 2:1, reels 60 to 265 mm"},
        {Tape(4.76), "Tape 4.76 cm/s"},
    };
    for (const auto& k : cases)
        EXPECT_EQ(meter::TransportLine(k.t), k.line);
}

class DeckCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        Tone tone;
        tone.mods = {{4, 0.002}};
        take = (dir.Path() / "take.wav").string();
        ASSERT_TRUE(WriteTone(take, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 11025, 4, tone));
        config = (dir.Path() / "config").string();
    }
    // tarvo-cli with XDG_CONFIG_HOME at the test's own folder.
    CliResult Run(const std::vector<std::string>& args)
    {
        return RunCli(args, dir.Path().string(), {"env", "XDG_CONFIG_HOME=" + config});
    }
    TempDir dir;
    std::string take, config;
};

// Save, list and measure with a deck; options beside --deck win for their own figures.
TEST_F(DeckCli, SaveListAndMeasureWithADeck)
{
    CliResult r = Run({"--save-deck", "Bench turntable", "--rpm", "33.3333333", "--drive-ratio", "7.5",
                       "--motor-poles", "24", "--deck-description", "Belt drive"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Saved \"Bench turntable\": Turntable 33 1/3 rpm, belt 7.5:1, 24-pole motor\n");
    r = Run({"--save-deck", "Deck B", "--tape-speed", "19.05", "--capstan-mm", "12"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(config + "/tarvo/decks"));

    r = Run({"--list-decks"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Bench turntable\tTurntable 33 1/3 rpm, belt 7.5:1, 24-pole motor\tBelt drive\n"
                     "Deck B\tTape 19.05 cm/s, capstan 12 mm\t\n");
    r = Run({"--json", "--list-decks"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto list = nlohmann::json::parse(r.out);
    ASSERT_EQ(list["decks"].size(), 2u);
    EXPECT_EQ(list["decks"][1]["name"], "Deck B");
    EXPECT_EQ(list["decks"][1]["transport"], "Tape 19.05 cm/s, capstan 12 mm");
    EXPECT_EQ(list["decks"][1]["description"], "");

    // Platter rpm / 60 Hz, motor 7.5 times that, 24 poles: 12 electrical cycles a turn.
    const struct {
        std::vector<std::string> options;
        const char* transport;
        double platterHz, motorHz;
    } cases[] = {
        {{}, "Turntable 33 1/3 rpm, belt 7.5:1, 24-pole motor", 100.0 / 3 / 60, 100.0 / 3 / 60 * 7.5},
        {{"--rpm", "45"}, "Turntable 45 rpm, belt 7.5:1, 24-pole motor", 45.0 / 60, 45.0 / 60 * 7.5},
        {{"--drive-ratio", "1"}, "Turntable 33 1/3 rpm, direct drive, 24-pole motor", 100.0 / 3 / 60,
         100.0 / 3 / 60},
    };
    for (const auto& k : cases) {
        std::vector<std::string> args = {"--json", "--meter", "--deck", "Bench turntable"};
        args.insert(args.end(), k.options.begin(), k.options.end());
        args.push_back(take);
        r = Run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto doc = nlohmann::json::parse(r.out);
        EXPECT_EQ(doc["meter"]["transport"], k.transport);
        const auto& parts = doc["meter"]["channels"][0]["parts"];
        ASSERT_GE(parts.size(), 3u);
        EXPECT_EQ(parts[0]["name"], "platter");
        EXPECT_NEAR(parts[0]["hz"].get<double>(), k.platterHz, 1e-4);
        EXPECT_EQ(parts[1]["name"], "motor");
        EXPECT_NEAR(parts[1]["hz"].get<double>(), k.motorHz, 1e-4);
        EXPECT_EQ(parts[2]["name"], "motor electrical");
        EXPECT_NEAR(parts[2]["hz"].get<double>(), 12 * k.motorHz, 1e-3);
    }
    r = Run({"--meter", "--deck", "Deck B", take});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Meter transport: Tape 19.05 cm/s, capstan 12 mm\n"), std::string::npos) << r.out;
    // The report names the machine and its description.
    const std::string pdf = dir.Path() / "deck.pdf";
    for (const auto& [deck, named] : {std::pair<std::string, std::string>{"Bench turntable",
                                                                          "machine: Bench turntable (Belt drive)"},
                                      {"Deck B", "machine: Deck B Measured"}}) {
        r = Run({"--meter", "--deck", deck, "--meter-report", pdf, take});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string text = PdfText(pdf, dir.Path().string());
        EXPECT_NE(text.find(named), std::string::npos) << text;
    }
    r = Run({"--meter", take});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Meter transport: No transport given\n"), std::string::npos) << r.out;
}

// Each option on a line of its own in the usage text (the man page is made from it).
TEST_F(DeckCli, UsageTextListsTheOptions)
{
    const CliResult help = Run({"--help"});
    ASSERT_EQ(help.status, 0);
    for (const char* opt : {"--deck", "--save-deck", "--deck-description", "--list-decks"}) {
        const std::string line = "\n  " + std::string(opt) + " ";
        const size_t at = help.out.find(line);
        EXPECT_NE(at, std::string::npos) << opt;
        EXPECT_EQ(help.out.find(line, at + 1), std::string::npos) << opt;
    }
    EXPECT_NE(help.out.find("wins for its own figure"), std::string::npos);
}

// Usage errors (exit 2) and an unreadable store (exit 1): reason given, nothing written.
TEST_F(DeckCli, MisuseIsRefused)
{
    ASSERT_EQ(Run({"--save-deck", "Deck B", "--tape-speed", "9.53"}).status, 0);
    const std::string stored = dir.Read("config/tarvo/decks");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* why;
    } cases[] = {
        {{"--meter", "--deck", "Deck C", take}, 2, "no machine profile is named \"Deck C\" (--list-decks lists them)"},
        {{"--deck", "Deck B", take}, 2, "--deck goes with --meter"},
        {{"--meter", "--deck", "[x]", take}, 2, "--deck: A profile's name has none of"},
        {{"--meter", "--deck"}, 2, "--deck needs a profile's name"},
        {{"--save-deck", "Deck\nC", "--rpm", "45"}, 2, "--save-deck: A profile's name is one line"},
        {{"--save-deck", "C=D"}, 2, "--save-deck: A profile's name has none of"},
        {{"--save-deck", "C", "--rpm", "45", "--tape-speed", "4.76"}, 2, "do not mix"},
        {{"--save-deck", "C", "--rpm", "450"}, 2, "--rpm takes a platter speed"},
        {{"--save-deck", "C", "--meter", take}, 2, "--save-deck NAME takes the transport options"},
        {{"--save-deck", "C", "--list-decks"}, 2, "one at a time"},
        {{"--list-decks", "--rpm", "45"}, 2, "--list-decks nothing but --json"},
        {{"--deck-description", "x"}, 2, "--deck-description goes with --save-deck"},
        {{"--save-deck", "C", "--deck-description", "a\nb"}, 2, "description is one line"},
        {{"--meter", "--deck", "Deck B", "--rpm", "45", take}, 2, "do not mix"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.why);
        const CliResult r = Run(k.args);
        EXPECT_EQ(r.status, k.status);
        EXPECT_NE(r.err.find(k.why), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(dir.Read("config/tarvo/decks"), stored);
    }
    // A store that does not parse: said, never written over.
    const std::string broken = "[Deck B]\nrpm = 45\nrpm = 45\n";
    dir.Write("config/tarvo/decks", broken);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--meter", "--deck", "Deck B", take},
                                                  std::vector<std::string>{"--list-decks"},
                                                  std::vector<std::string>{"--save-deck", "C", "--rpm", "45"}}) {
        const CliResult r = Run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("line 3: rpm is given twice"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(dir.Read("config/tarvo/decks"), broken);
    }
}

}  // namespace
