// Arbitrary bytes as a sound file, through the standards meter: the run,
// then its deviation track as CSV. A run either gives finite figures for at
// least one channel or says why it gives none; the CSV is never written over
// the file measured.
#include "meter/Meter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_meter: %s\n", what);
    std::abort();
}

struct Folder {
    std::string path, input, csv;
    Folder()
    {
        char tmpl[] = "/tmp/tarvo-fuzz-meter-XXXXXX";
        if (!::mkdtemp(tmpl))
            Fail("no temporary folder");
        path = tmpl;
        input = path + "/input.snd";
        csv = path + "/track.csv";
    }
    ~Folder()
    {
        ::unlink(input.c_str());
        ::unlink(csv.c_str());
        ::rmdir(path.c_str());
    }
};

bool Finite(const tarvo::meter::PathFigures& p) { return std::isfinite(p.twoSigmaPercent) && std::isfinite(p.rmsPercent); }

off_t SizeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Folder f;
    {
        std::ofstream out(f.input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    using namespace tarvo::meter;
    const MeterResult r = RunMeter(f.input, MeterSettings{});
    if (!r.ok) {
        if (r.message.empty())
            Fail("a run without figures that does not say why");
        return 0;
    }
    if (r.channels.empty())
        Fail("figures for no channel");
    for (const ChannelFigures& c : r.channels) {
        if (!(std::isfinite(c.carrierHz) && c.carrierHz > 0) || !Finite(c.weighted) || !Finite(c.unweighted) ||
            !std::isfinite(c.wowRmsPercent) || !std::isfinite(c.flutterRmsPercent) || !std::isfinite(c.driftPercent))
            Fail("a figure that is not a finite number");
    }
    std::string error;
    if (WriteMeterCsv(f.input, MeterSettings{}, r, f.input, error) || SizeOf(f.input) != static_cast<off_t>(size))
        Fail("the CSV went over the file measured");
    WriteMeterCsv(f.input, MeterSettings{}, r, f.csv, error);
    return 0;
}
