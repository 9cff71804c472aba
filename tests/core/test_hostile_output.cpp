// Every output of both programs against every hostile target: the input
// itself under its own name, a hard link and a symbolic link, links planted
// where a temporary file might go, a link to a file of the user's, a FIFO
// with and without a reader, /dev/full, a full disk, a read-only file and
// folder (as an ordinary user: root passes every permission check) and a
// missing folder. The input is never changed, an old output survives every
// failure, and the message names the cause.
#include "CliRunner.h"
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "sound/PcmWave.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

using namespace tarvo::test;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

std::string Slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool IsLink(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// One output: the command line that writes `out` from `in`, or, for the
// recorder, the writer called in a process of its own.
struct Output {
    const char* name;
    std::function<std::vector<std::string>(const std::string& in, const std::string& out)> args;
    bool record = false;  // the record's WAVE, written by the recorder's writer
    bool resume = false;  // the output must be a summary already: --resume
    // The machine profiles' store (--save-deck): the run's configuration
    // folder holds tarvo/decks as a link to the target, so the store is
    // read, then written, wherever the target is.
    bool store = false;
};

enum class Target {
    Input,          // the input under its own name
    HardLink,       // a second name of the input
    SymLink,        // a link to the input
    PlantedLinks,   // links to the input where temporary files have been named
    LinkToOwnFile,  // a link to a file of the user's: written through, the link stays
    FifoNoReader,
    FifoWithReader,
    DevFull,
    FullDisk,
    ReadOnlyFile,    // a file the user may not write, in a folder the user may
    ReadOnlyFolder,  // a folder the user may not write
    MissingFolder,
};

const char* TargetName(Target t)
{
    switch (t) {
    case Target::Input: return "the input";
    case Target::HardLink: return "a hard link to the input";
    case Target::SymLink: return "a symbolic link to the input";
    case Target::PlantedLinks: return "links planted at temporary names";
    case Target::LinkToOwnFile: return "a link to a file of the user's";
    case Target::FifoNoReader: return "a FIFO nothing reads";
    case Target::FifoWithReader: return "a FIFO read by another program";
    case Target::DevFull: return "/dev/full";
    case Target::FullDisk: return "a full disk";
    case Target::ReadOnlyFile: return "a read-only file";
    case Target::ReadOnlyFolder: return "a read-only folder";
    case Target::MissingFolder: return "a missing folder";
    }
    return "";
}

const std::vector<Output>& Outputs()
{
    static const std::vector<Output> outputs = {
        {"--png", [](auto in, auto out) { return std::vector<std::string>{"--png", out, in}; }},
        {"--save-data",
         [](auto in, auto out) { return std::vector<std::string>{"--header", "--save-data", out, in}; }},
        {"--meter-csv", [](auto in, auto out) { return std::vector<std::string>{"--meter", "--meter-csv", out, in}; }},
        {"--meter-png", [](auto in, auto out) { return std::vector<std::string>{"--meter", "--meter-png", out, in}; }},
        {"--meter-report",
         [](auto in, auto out) { return std::vector<std::string>{"--meter", "--meter-report", out, in}; }},
        {"--summary-csv",
         [](auto in, auto out) { return std::vector<std::string>{"--meter", "--summary-csv", out, in}; }},
        {"--batch-report",
         [](auto in, auto out) { return std::vector<std::string>{"--meter", "--batch-report", out, in}; }},
        {"--summary-csv --resume",
         [](auto in, auto out) {
             return std::vector<std::string>{"--meter", "--summary-csv", out, "--resume", in};
         },
         false, true},
        {"record", nullptr, true},
        {"--save-deck",
         [](auto, auto) {
             return std::vector<std::string>{"--save-deck", "Deck B", "--tape-speed", "19.05"};
         },
         false, false, true},
    };
    return outputs;
}

// The bytes an old output holds before the run: a summary for --resume
// (of another file, so that the run has work to do; one page long, so that
// on a full disk not a byte more fits), else any text.
std::string OldContent(const Output& o)
{
    if (o.store)
        return "[Bench turntable]\nrpm = 45\n";  // a store of the user's: kept, with Deck B added
    if (!o.resume)
        return "an old output of the user's\n";
    std::string header =
        "path,channel,seconds,carrier_hz,speed_error_percent,weighted_two_sigma_percent,weighted_rms_percent,"
        "unweighted_two_sigma_percent,unweighted_rms_percent,wow_rms_percent,flutter_rms_percent,drift_percent,"
        "strongest_line_hz,strongest_line_percent,strongest_line_label,snr_db,verdict,failed_limits,message,"
        "sha256,format,sample_rate,bits,channels,nominal_hz,limit_weighted,limit_unweighted,limit_speed,transport,"
        "operator,deck,measured_at,program_version\r\n";
    std::string row = "other.wav,1,3,3150,,0.1,0.07,0.1,0.07,0.05,0.05,0,4,0.1,,50,pass,,,,,,,,,,,,"
                      "No transport given,,,2026-12-08T06:00:00+00:00,";
    row += std::string(4096 - header.size() - row.size() - 2, 'x') + "\r\n";
    return header + row;
}

class HostileOutput : public ::testing::TestWithParam<std::tuple<size_t, Target>> {
protected:
    void SetUp() override
    {
        // Readable by the ordinary user the permission cases run as.
        ::chmod(dir.Path().c_str(), 0755);
        Tone tone;
        tone.mods = {{4, 0.002}};
        in = (dir.Path() / "take.wav").string();
        ASSERT_TRUE(WriteTone(in, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 11025, 3, tone));
        inBytes = Slurp(in);
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(mountPoint.c_str(), MNT_DETACH);
    }

    // Runs the output's writer on `out`, as nobody when asked; answers the
    // exit status and what it said.
    CliResult Write(const Output& o, const std::string& out, bool asNobody)
    {
        if (o.record) {
            int pipeFd[2];
            EXPECT_EQ(::pipe(pipeFd), 0);
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(pipeFd[0]);
                if (asNobody && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
                    ::_exit(99);
                std::string why;
                const bool ok = tarvo::WriteWave8MonoFile(out, 11025, std::vector<unsigned char>(22050, 128), &why);
                if (::write(pipeFd[1], why.data(), why.size()) < 0)
                    ::_exit(98);
                ::_exit(ok ? 0 : 1);
            }
            ::close(pipeFd[1]);
            CliResult r;
            char buf[512];
            for (ssize_t n; (n = ::read(pipeFd[0], buf, sizeof buf)) > 0;)
                r.err.append(buf, static_cast<size_t>(n));
            ::close(pipeFd[0]);
            int status = 0;
            ::waitpid(pid, &status, 0);
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return r;
        }
        // A hang is a fault: the run is stopped after a minute.
        std::vector<std::string> as = {"timeout", "60"};
        if (o.store) {
            const fs::path config = dir.Path() / "config";
            fs::create_directories(config / "tarvo");
            std::error_code ec;
            fs::remove(config / "tarvo" / "decks", ec);
            fs::create_symlink(out, config / "tarvo" / "decks");
            as.insert(as.end(), {"env", "XDG_CONFIG_HOME=" + config.string()});
        }
        if (asNobody)
            as.insert(as.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        return RunCli(o.args(in, out), dir.Path().string(), as);
    }

    TempDir dir;
    std::string in, inBytes;
    std::string mountPoint;
    bool mounted = false;
};

TEST_P(HostileOutput, InputUnchangedOldOutputWholeCauseNamed)
{
    const Output& o = Outputs()[std::get<0>(GetParam())];
    const Target target = std::get<1>(GetParam());
    const std::string folder = dir.Path().string();
    std::string out = folder + "/out.dat";
    const std::string old = OldContent(o);
    std::string expectedText;  // in the messages of a run that fails
    bool succeeds = false, asNobody = false;
    std::string readByFifo;
    std::thread reader;
    int probe = -1;
    std::vector<std::string> planted;

    switch (target) {
    case Target::Input:
        out = in;
        expectedText = o.store ? "cannot be read" : "input";  // a sound file is no store: left as it is
        break;
    case Target::HardLink:
        ASSERT_EQ(::link(in.c_str(), out.c_str()), 0);
        expectedText = o.store ? "cannot be read" : "input";
        break;
    case Target::SymLink:
        ASSERT_EQ(::symlink(in.c_str(), out.c_str()), 0);
        expectedText = o.store ? "cannot be read" : "input";
        break;
    case Target::PlantedLinks:
        // The names a fixed temporary file would take: never opened.
        for (const std::string& name : {out + ".part", folder + "/.out.dat.part", out + ".tmp", out + "~"}) {
            ASSERT_EQ(::symlink(in.c_str(), name.c_str()), 0);
            planted.push_back(name);
        }
        if (o.resume || o.store)
            dir.Write("out.dat", old);
        succeeds = true;
        break;
    case Target::LinkToOwnFile:
        dir.Write("mine.dat", old);
        ASSERT_EQ(::symlink("mine.dat", out.c_str()), 0);
        succeeds = true;
        break;
    case Target::FifoNoReader:
        ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0);
        expectedText = o.resume || o.store ? "not a regular file" : "FIFO that nothing reads";
        break;
    case Target::FifoWithReader:
        if (o.resume || o.store)
            GTEST_SKIP() << "a summary resumed or a store is read first: a FIFO cannot hold one";
        ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0);
        // Opens before the writer does, so the writer finds it there.
        reader = std::thread([&readByFifo, out] {
            const int fd = ::open(out.c_str(), O_RDONLY);
            char buf[65536];
            for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;)
                readByFifo.append(buf, static_cast<size_t>(n));
            if (fd >= 0)
                ::close(fd);
        });
        // Waits until the reader is there: a writer that came first would
        // find no reader, which is the case above.
        // The probe, a writer of its own, stays open until after the run, so
        // that the reader sees the end only once the run's writer has gone.
        for (int i = 0; i < 5000 && probe < 0; ++i) {
            probe = ::open(out.c_str(), O_WRONLY | O_NONBLOCK);
            if (probe < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_GE(probe, 0) << "the reader never opened the FIFO";
        succeeds = true;
        break;
    case Target::DevFull:
        out = "/dev/full";
        expectedText = o.resume || o.store ? "not a regular file" : "No space left on device";
        break;
    case Target::FullDisk: {
        mountPoint = folder + "/small";
        fs::create_directory(mountPoint);
        if (::mount("tarvo-test", mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0)
            GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
        mounted = true;
        out = mountPoint + "/out.dat";
        std::ofstream(out, std::ios::binary) << old;
        // Fills what is left.
        std::ofstream fill(mountPoint + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        for (int i = 0; i < 200 && fill.write(block.data(), static_cast<std::streamsize>(block.size())); ++i) {
        }
        expectedText = "No space left on device";
        break;
    }
    case Target::ReadOnlyFile:
        dir.Write("out.dat", old);
        ::chmod(out.c_str(), 0444);
        ::chmod(folder.c_str(), 0777);
        asNobody = ::geteuid() == 0;
        expectedText = "Permission denied";
        break;
    case Target::ReadOnlyFolder:
        fs::create_directory(folder + "/locked");
        out = folder + "/locked/out.dat";
        std::ofstream(out, std::ios::binary) << old;
        ::chmod(out.c_str(), 0666);
        ::chmod((folder + "/locked").c_str(), 0555);
        asNobody = ::geteuid() == 0;
        expectedText = "Permission denied";
        break;
    case Target::MissingFolder:
        out = folder + "/no such folder/out.dat";
        expectedText = "No such file or directory";
        break;
    }
    if (o.record && (target == Target::Input || target == Target::HardLink || target == Target::SymLink))
        GTEST_SKIP() << "the recorder writes the name it is given; tarvo-cli refuses a --rec-file that is its FILE";
    // A summary resumed is added to in place: a read-only folder does not
    // stop it while the summary itself may be written.
    if (o.resume && target == Target::ReadOnlyFolder)
        succeeds = true;
    const std::string oldOut = target == Target::DevFull || target == Target::FifoNoReader ||
                                       target == Target::FifoWithReader || target == Target::MissingFolder
                                   ? std::string()
                                   : Slurp(out);

    if (asNobody && std::system("command -v setpriv >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "setpriv (util-linux) is not installed: root cannot run the program as another user";
    const CliResult r = Write(o, out, asNobody);
    if (probe >= 0)
        ::close(probe);
    if (reader.joinable())
        reader.join();
    const std::string said = r.out + r.err;
    SCOPED_TRACE(std::string(o.name) + " to " + TargetName(target) + ": " + said);

    EXPECT_EQ(Slurp(in), inBytes) << "the input was changed";
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(in))) << "the input is no longer a file";
    if (succeeds) {
        EXPECT_EQ(r.status, 0);
        if (target == Target::FifoWithReader) {
            EXPECT_FALSE(readByFifo.empty());
        } else {
            EXPECT_TRUE(fs::is_regular_file(out));
            EXPECT_NE(Slurp(out), old);
        }
        if (target == Target::LinkToOwnFile) {
            EXPECT_TRUE(IsLink(out)) << "the link was replaced";
            EXPECT_NE(Slurp(folder + "/mine.dat"), old) << "the file the link names was not written";
        }
        for (const std::string& p : planted)
            EXPECT_TRUE(IsLink(p) && fs::equivalent(p, in)) << p;
    } else {
        EXPECT_NE(r.status, 0);
        EXPECT_NE(said.find(expectedText), std::string::npos) << "wanted: " << expectedText;
        EXPECT_EQ(said.find("Input/output error"), std::string::npos);
        if (!oldOut.empty()) {
            EXPECT_EQ(Slurp(out), oldOut) << "the old output was lost";
        }
    }
    // No temporary file is left behind.
    for (const std::string& where : {folder, mountPoint, folder + "/locked"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(where, ec)) {
            const std::string name = e.path().filename().string();
            const bool plantedHere = std::find(planted.begin(), planted.end(), e.path().string()) != planted.end();
            EXPECT_TRUE(plantedHere || !name.ends_with(".part")) << "left behind: " << e.path();
        }
    }
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<size_t, Target>>& info)
{
    std::string name = Outputs()[std::get<0>(info.param)].name;
    name += std::string("_to_") + TargetName(std::get<1>(info.param));
    std::string clean;
    for (char c : name)
        clean += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return clean;
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutputEveryTarget, HostileOutput,
    ::testing::Combine(::testing::Range<size_t>(0, 10),
                       ::testing::Values(Target::Input, Target::HardLink, Target::SymLink, Target::PlantedLinks,
                                         Target::LinkToOwnFile, Target::FifoNoReader, Target::FifoWithReader,
                                         Target::DevFull, Target::FullDisk, Target::ReadOnlyFile,
                                         Target::ReadOnlyFolder, Target::MissingFolder)),
    CaseName);

}  // namespace

namespace {

// An output named by a link to a pipe (as /dev/stdout is) is written into
// the pipe: the link is followed, never replaced by a file.
TEST(OutputThroughALink, ToAPipeEveryOutputGoesDown)
{
    TempDir dir;
    Tone tone;
    const std::string in = (dir.Path() / "take.wav").string();
    ASSERT_TRUE(WriteTone(in, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 11025, 3, tone));
    ASSERT_EQ(::symlink("/proc/self/fd/1", (dir.Path() / "my-stdout").c_str()), 0);
    const struct {
        const char* option;
        const char* starts;  // the first bytes of what it writes
    } outputs[] = {
        {"--png", "\x89PNG"},
        {"--meter-csv", "# Tarvo"},
        {"--meter-png", "\x89PNG"},
        {"--meter-report", "%PDF"},
    };
    for (const auto& o : outputs) {
        for (const std::string target : {"/proc/self/fd/1", "my-stdout"}) {
            SCOPED_TRACE(std::string(o.option) + " " + target);
            const std::string meter = std::string(o.option) == "--png" ? "" : "--meter ";
            const std::string cmd = "cd " + ShellQuote(dir.Path().string()) + " && timeout 60 " +
                                    ShellQuote(TARVO_CLI_PATH) + " " + meter + o.option + " " + target +
                                    " take.wav 2>err.txt | cat >piped.dat";
            ASSERT_EQ(std::system(("bash -o pipefail -c " + ShellQuote(cmd)).c_str()), 0)
                << Slurp((dir.Path() / "err.txt").string());
            EXPECT_EQ(Slurp((dir.Path() / "piped.dat").string()).rfind(o.starts, 0), 0u);
            EXPECT_TRUE(IsLink((dir.Path() / "my-stdout").string()));
        }
    }
    // Standard output sent to a file to append to: appended, not replaced.
    const std::string log = (dir.Path() / "log.txt").string();
    std::ofstream(log) << "the user's earlier lines\n";
    const std::string cmd = "cd " + ShellQuote(dir.Path().string()) + " && timeout 60 " + ShellQuote(TARVO_CLI_PATH) +
                            " --meter --meter-csv /proc/self/fd/1 take.wav >>log.txt 2>err.txt";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << Slurp((dir.Path() / "err.txt").string());
    EXPECT_EQ(Slurp(log).rfind("the user's earlier lines\n# Tarvo", 0), 0u) << Slurp(log).substr(0, 200);
}

}  // namespace

namespace {

// The take is saved under --rec-file's name: never over FILE, under any
// spelling, before any sound is touched.
TEST(RecordOutput, ATakeIsNeverWrittenOverFile)
{
    TempDir dir;
    Tone tone;
    const std::string in = (dir.Path() / "take.wav").string();
    ASSERT_TRUE(WriteTone(in, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 11025, 3, tone));
    ASSERT_EQ(::symlink("take.wav", (dir.Path() / "link.wav").c_str()), 0);
    const std::string bytes = Slurp(in);
    for (const std::string& name : {std::string("take.wav"), std::string("./take.wav"), std::string("link.wav")}) {
        SCOPED_TRACE(name);
        const CliResult r = RunCli({"--rec-file", name, "--rec", "1", "take.wav"}, dir.Path().string());
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("--rec-file names FILE itself"), std::string::npos) << r.err;
        EXPECT_EQ(Slurp(in), bytes);
    }
}

}  // namespace
