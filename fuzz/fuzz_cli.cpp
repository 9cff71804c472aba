// Arbitrary argument lists for tarvo-cli, NUL-separated, with no sound
// server: the options are parsed, the commands run on two small files in a
// folder of their own, and whatever they write stays there. The exit status
// is one of the documented ones, and --json prints one valid JSON object.
// Lists naming a path outside the folder (a '/') are skipped.
#include "cli/Cli.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_cli: %s\n", what);
    std::abort();
}

void U16(std::string& b, unsigned v)
{
    b.push_back(static_cast<char>(v & 0xFF));
    b.push_back(static_cast<char>(v >> 8));
}
void U32(std::string& b, std::uint32_t v)
{
    U16(b, v & 0xFFFF);
    U16(b, v >> 16);
}

// A RIFF WAVE of a 3 kHz tone: 8-bit mono or 16-bit stereo.
std::string ToneWave(int rate, int channels, int bits, double seconds)
{
    std::string pcm;
    const int frames = static_cast<int>(seconds * rate);
    for (int i = 0; i < frames; ++i) {
        const double v = 0.5 * std::sin(2 * M_PI * 3000 * i / rate);
        for (int c = 0; c < channels; ++c) {
            if (bits == 8)
                pcm.push_back(static_cast<char>(std::lround(128 + 127 * v)));
            else
                U16(pcm, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(32767 * v))));
        }
    }
    std::string b = "RIFF";
    U32(b, static_cast<std::uint32_t>(36 + pcm.size()));
    b += "WAVEfmt ";
    U32(b, 16);
    U16(b, 1);
    U16(b, static_cast<unsigned>(channels));
    U32(b, static_cast<std::uint32_t>(rate));
    U32(b, static_cast<std::uint32_t>(rate * channels * bits / 8));
    U16(b, static_cast<unsigned>(channels * bits / 8));
    U16(b, static_cast<unsigned>(bits));
    b += "data";
    U32(b, static_cast<std::uint32_t>(pcm.size()));
    return b + pcm;
}

struct Folder {
    std::filesystem::path path;
    Folder()
    {
        // No sound server is ever reached, whatever the list asks for.
        ::setenv("PULSE_SERVER", "unix:/nonexistent/tarvo-fuzz", 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        char tmpl[] = "/tmp/tarvo-fuzz-cli-XXXXXX";
        if (!::mkdtemp(tmpl))
            Fail("no temporary folder");
        path = tmpl;
        std::ofstream(path / "a.wav", std::ios::binary) << ToneWave(8000, 1, 8, 2.5);
        std::ofstream(path / "b.wav", std::ios::binary) << ToneWave(8000, 2, 16, 0.5);
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    // Everything but the two inputs goes after each run.
    void Tidy() const
    {
        for (const auto& e : std::filesystem::directory_iterator(path)) {
            const std::string name = e.path().filename().string();
            if (name != "a.wav" && name != "b.wav")
                std::filesystem::remove_all(e.path());
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Folder folder;
    std::vector<std::string> args{"tarvo-cli"};
    std::string arg;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            args.push_back(arg);
            arg.clear();
        } else {
            arg.push_back(static_cast<char>(data[i]));
        }
    }
    bool json = false, operands = false;
    for (const std::string& a : args) {
        if (a.find('/') != std::string::npos || a == "--meter-live" || a == "--list-inputs" || args.size() > 40)
            return 0;
        // After "--" a "--json" is a file's name, not the option.
        json = json || (a == "--json" && !operands);
        operands = operands || a == "--";
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::ostringstream out, err;
    // In the folder while it runs only: libFuzzer reads its corpus by
    // relative names.
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(folder.path);
    const int status = tarvo::RunCli(static_cast<int>(args.size()), argv.data(), out, err);
    std::filesystem::current_path(home);
    folder.Tidy();
    if (status < 0 || status > 3)
        Fail("an exit status that is not documented");
    if (status == 2 && !out.str().empty())
        Fail("a usage error with output");
    const bool helpOrVersion = out.str().rfind("usage:", 0) == 0 || out.str().rfind("tarvo-cli ", 0) == 0;
    // One JSON object a line (a batch prints JSON Lines). A "--json" may
    // also be another option's value (--comment --json): the form's plain
    // lines then follow, which never start with a brace.
    json = json && out.str().rfind('{', 0) == 0;
    std::istringstream lines(out.str());
    for (std::string line; json && status != 2 && !helpOrVersion && std::getline(lines, line);)
        if (!nlohmann::json::accept(line))
            Fail("--json printed something that is not JSON");
    return 0;
}
