// Arbitrary bytes as a speed log: read in memory and from a file, which
// must agree; a log that is read gives rising times and finite deviations,
// as many rows as its first reading counted, and the interpolated points
// its length and the rate ask for; one that is not says why. Run with
// -dict=fuzz/speedlog.dict for the headings, separators and units.
#include "meter/SpeedLog.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_speedlog: %s\n", what);
    std::abort();
}

struct File {
    std::string path;
    File()
    {
        char tmpl[] = "/tmp/tarvo-fuzz-speedlog-XXXXXX";
        const int fd = ::mkstemp(tmpl);
        if (fd < 0)
            Fail("no temporary file");
        ::close(fd);
        path = tmpl;
    }
    ~File() { ::unlink(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarvo::meter;
    static File file;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(file.path, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    SpeedLogReader memory, stored;
    memory.OpenText(text);
    const bool surveyed = memory.Survey();
    if (!stored.Open(file.path))
        Fail("a file of a few bytes could not be opened");
    if (stored.Survey() != surveyed || stored.Error() != memory.Error() || stored.Recognised() != memory.Recognised())
        Fail("the file and the same bytes in memory read differently");
    if (!surveyed) {
        if (memory.Error().empty())
            Fail("a log refused without a reason");
        return 0;
    }
    const SpeedLogShape shape = memory.Shape();
    if (shape.rows < kFewestSpeedLogRows || !(shape.Seconds() > 0) || !(shape.period > 0) ||
        !(shape.period <= shape.Seconds()) || !memory.Recognised())
        Fail("a log's shape that cannot be");
    int64_t rows = 0;
    double last = 0;
    const bool read = memory.Rows([&](double t, double percent) {
        if (!std::isfinite(t) || !std::isfinite(percent) || (rows > 0 && !(t > last)))
            Fail("a row that is not finite or does not rise");
        last = t;
        ++rows;
        return true;
    });
    if (!read) {
        if (memory.Error().empty())
            Fail("a log stopped without a reason");
        return 0;
    }
    if (rows != shape.rows)
        Fail("the second reading found other rows");
    // The points the resampling gives: one every 1/rate s from the first
    // row's time to the last's; bounded by the rows read and the widest step.
    const double rate = std::min(100.0, 1e4 / shape.Seconds());
    int64_t points = 0;
    if (!memory.Resample(rate, [&](double percent) {
            if (!std::isfinite(percent))
                Fail("a point that is not finite");
            ++points;
            return true;
        }))
        Fail("a log read once could not be resampled");
    if (std::abs(static_cast<double>(points) - (std::floor(shape.Seconds() * rate) + 1)) > 1)
        Fail("the points do not span the log");
    return 0;
}
