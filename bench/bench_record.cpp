// What a file's record costs beside its measurement: reading a one-minute
// 44.1 kHz 16-bit file for its SHA-256 and format, against the meter's run
// over the same file (the batch's work a file). Both read from the page
// cache, as the batch reads a file twice in a row.
#include "meter/Meter.h"
#include "meter/Record.h"
#include "support/ToneFile.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

const std::string& OneMinute()
{
    static const std::string path = [] {
        char name[] = "/tmp/tarvo-bench-record-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd >= 0)
            ::close(fd);
        tarvo::test::Tone tone;
        tone.mods = {{4, 0.001}};
        tarvo::test::WriteTone(name, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 60, tone);
        std::atexit([] { ::unlink(OneMinute().c_str()); });
        return std::string(name);
    }();
    return path;
}

void BM_MeterOneMinute(benchmark::State& state)
{
    for (auto _ : state) {
        const tarvo::meter::MeterResult r = tarvo::meter::RunMeter(OneMinute(), {});
        benchmark::DoNotOptimize(r.ok);
    }
}
BENCHMARK(BM_MeterOneMinute)->Unit(benchmark::kMillisecond);

void BM_RecordOneMinute(benchmark::State& state)
{
    for (auto _ : state) {
        tarvo::meter::FileRecord record;
        std::string why;
        benchmark::DoNotOptimize(tarvo::meter::DescribeFile(OneMinute(), record, why));
    }
}
BENCHMARK(BM_RecordOneMinute)->Unit(benchmark::kMillisecond);

}  // namespace
