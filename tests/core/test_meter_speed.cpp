// The meter's faster forms against the plain ones: the same numbers to the
// bit, or within rounding for the transforms and the phase angle.
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "meter/Analyser.h"
#include "meter/Demodulator.h"
#include "meter/Dsp.h"
#include "meter/Meter.h"
#include "meter/SoundReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <random>
#include <thread>

using namespace tarvo;

namespace {

TEST(MeterSpeed, HistogramAddAboveCountsAsAddOneByOne)
{
    // No floor: placed as Add places them; a floor: those under it only counted.
    meter::LevelHistogram one(3150), batch(3150), floored(3150);
    std::mt19937 gen(11);
    std::normal_distribution<double> noise(0, 5);
    const double floor = 6;
    for (int i = 0; i < 5000; ++i) {
        double v[7];
        for (double& x : v)
            x = noise(gen);
        v[i % 7] = i % 3 ? 0.0 : 1e-300;
        for (double x : v)
            one.Add(std::abs(x));
        batch.AddAbove(v, 7, 0.0);
        floored.AddAbove(v, 7, floor);
    }
    ASSERT_EQ(one.Count(), batch.Count());
    ASSERT_EQ(one.Count(), floored.Count());
    for (double fraction : {0.01, 0.05, 0.5, 0.9, 0.99})
        EXPECT_EQ(one.Exceeded(fraction), batch.Exceeded(fraction)) << fraction;
    for (double fraction : {0.001, 0.01, 0.05})
        EXPECT_EQ(one.Exceeded(fraction), floored.Exceeded(fraction)) << fraction;
}

// The spectral lines' floor: whether a peak stands over the median of the
// bins around it, by counting the bins under it instead of sorting them,
// whatever the ties and however near the peak's limit the median falls.
TEST(MeterSpeed, CountingUnderAPeakTellsItsMedianAsSortingDoes)
{
    std::mt19937 gen(23);
    std::exponential_distribution<double> power(1.0);
    std::uniform_int_distribution<int> size(1, 40);
    for (int round = 0; round < 20000; ++round) {
        std::vector<double> bins(static_cast<size_t>(size(gen)));
        for (double& b : bins)
            b = round % 4 == 0 ? std::floor(power(gen) * 3) / 3 : power(gen);  // ties in a quarter
        std::vector<double> sorted = bins;
        const size_t half = sorted.size() / 2;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(half), sorted.end());
        const double median = sorted[half];
        // Peaks at, just over, just under and well away from 50 times the median.
        for (double peak : {50 * median, std::nextafter(50 * median, 1e300), std::nextafter(50 * median, 0.0),
                            3 * median, 200 * median + 1}) {
            const bool sorting = peak > 50 * median;
            // The bins in two runs, as a line's neighbours either side of it.
            const size_t split = static_cast<size_t>(round) % (bins.size() + 1);
            const bool counting =
                meter::OverMedian(bins.data(), split, bins.data() + split, bins.size() - split, peak, 50);
            ASSERT_EQ(sorting, counting) << round << " " << peak;
        }
    }
    EXPECT_FALSE(meter::OverMedian(nullptr, 0, nullptr, 0, 1, 50));  // no bins: no median to stand over
}

// The demodulator's dot products: each sum in eight lanes added in one
// fixed order, four outputs at a time or one, the same on every processor.
TEST(MeterSpeed, ComplexDotsSumInTheirFixedOrder)
{
    std::mt19937 gen(19);
    std::normal_distribution<float> any(0, 1);
    const size_t n = 152, step = 22, count = 7;
    std::vector<float> tr(n), ti(n), s(n + step * count);
    for (float& v : tr)
        v = any(gen);
    for (float& v : ti)
        v = any(gen);
    for (float& v : s)
        v = any(gen);
    std::vector<float> re(count), im(count);
    meter::ComplexDots(tr.data(), ti.data(), n, s.data(), step, count, re.data(), im.data());
    for (size_t k = 0; k < count; ++k) {
        float lanesRe[8] = {}, lanesIm[8] = {};
        for (size_t j = 0; j < n; ++j) {
            lanesRe[j % 8] += tr[j] * s[k * step + j];
            lanesIm[j % 8] += ti[j] * s[k * step + j];
        }
        auto sum = [](const float* l) {
            const float h0 = l[0] + l[4], h1 = l[1] + l[5], h2 = l[2] + l[6], h3 = l[3] + l[7];
            return (h0 + h2) + (h1 + h3);
        };
        EXPECT_EQ(re[k], sum(lanesRe)) << k;
        EXPECT_EQ(im[k], sum(lanesIm)) << k;
    }
}

// The chain's four lanes against the four cascades one by one, the last two
// on the second one's output: every output to the bit, whatever the blocks,
// and the lagging outputs Flush gives (the chain going on unmoved by it).
TEST(MeterSpeed, FilterChainMatchesTheCascadesOneByOneToTheBit)
{
    const double rate = 2004.5;
    meter::Cascade a = meter::WeightedPath(rate), b = meter::UnweightedFilter(rate), c = meter::WowFilter(rate),
                   d = meter::FlutterFilter(rate);
    a.SettleOn(0.5);
    b.SettleOn(0.5);
    meter::FilterChain chain(a, b, c, d);
    std::mt19937 gen(3);
    std::normal_distribution<double> noise(0, 1);
    std::vector<double> x;
    for (int i = 0; i < 6000; ++i)
        x.push_back(0.5 + std::sin(0.01 * i) + 0.3 * noise(gen));
    std::vector<double> wantA, wantB, wantC, wantD;
    for (double v : x) {
        wantA.push_back(a.Process(v));
        wantB.push_back(b.Process(v));
        wantC.push_back(c.Process(wantB.back()));
        wantD.push_back(d.Process(wantB.back()));
    }
    const size_t lag = meter::FilterChain::kLag;
    const size_t sizes[] = {1, 7, 63, 1, 256, 1000, 5, 300};
    size_t at = 0;
    for (int block = 0; at < x.size(); ++block) {
        const size_t n = std::min(sizes[block % 8], x.size() - at);
        std::vector<double> oa(n), ob(n), oc(n), od(n);
        chain.Run(x.data() + at, n, oa.data(), ob.data(), oc.data(), od.data());
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(oa[i], wantA[at + i]) << at + i;
            ASSERT_EQ(ob[i], wantB[at + i]) << at + i;
            if (at + i >= lag) {
                ASSERT_EQ(oc[i], wantC[at + i - lag]) << at + i;
                ASSERT_EQ(od[i], wantD[at + i - lag]) << at + i;
            }
        }
        at += n;
        if (block % 3 == 0) {
            double fc[meter::FilterChain::kLag], fd[meter::FilterChain::kLag];
            const size_t owed = chain.Flush(fc, fd);
            ASSERT_EQ(owed, std::min(at, lag));
            for (size_t j = 0; j < owed; ++j) {
                ASSERT_EQ(fc[j], wantC[at - owed + j]) << at;
                ASSERT_EQ(fd[j], wantD[at - owed + j]) << at;
            }
        }
    }
    EXPECT_EQ(at, x.size());
}

// A frequency track at the demodulator's rate: a carrier with the given
// deviation added point by point.
std::vector<double> Track(double seconds, const std::function<double(double)>& deviationHz)
{
    const double rate = 2004.5;
    std::vector<double> hz;
    for (int64_t i = 0; i < static_cast<int64_t>(seconds * rate); ++i)
        hz.push_back(3150 + deviationHz(static_cast<double>(i) / rate));
    return hz;
}

meter::ChannelFigures Analyse(const std::vector<double>& hz, double seconds, bool promised)
{
    meter::ChannelAnalyser a(2004.5, 3150, seconds);
    if (promised)
        a.ExpectAtMost(static_cast<int64_t>(hz.size()));
    for (double v : hz)
        a.Add(v);
    return a.Finish();
}

// Promised the file's length, the statistics only count readings far under
// the deciding level: the same figures for a steady flutter, noise, and a
// flutter falling to a tenth halfway (the deciding level falls late).
TEST(MeterSpeed, CountingFarUnderReadingsGivesTheSameFiguresToTheBit)
{
    const double seconds = 120;
    std::mt19937 gen(5);
    std::normal_distribution<double> noise(0, 0.5);
    const std::vector<std::vector<double>> tracks = {
        Track(seconds, [](double t) { return 3.15 * std::sin(2 * std::numbers::pi * 4 * t); }),
        Track(seconds, [&](double) { return noise(gen); }),
        Track(seconds,
              [](double t) {
                  const double depth = t < 60 ? 3.15 : 0.315;
                  return depth * std::sin(2 * std::numbers::pi * 10 * t) + 0.5 * std::sin(2 * std::numbers::pi * 0.7 * t);
              }),
    };
    for (size_t k = 0; k < tracks.size(); ++k) {
        SCOPED_TRACE(k);
        const meter::ChannelFigures plain = Analyse(tracks[k], seconds, false);
        const meter::ChannelFigures quick = Analyse(tracks[k], seconds, true);
        EXPECT_GT(plain.weighted.twoSigmaPercent, 0);
        EXPECT_EQ(quick.weighted.twoSigmaPercent, plain.weighted.twoSigmaPercent);
        EXPECT_EQ(quick.unweighted.twoSigmaPercent, plain.unweighted.twoSigmaPercent);
        EXPECT_EQ(quick.weighted.rmsPercent, plain.weighted.rmsPercent);
        EXPECT_EQ(quick.wowRmsPercent, plain.wowRmsPercent);
        EXPECT_EQ(quick.flutterRmsPercent, plain.flutterRmsPercent);
    }
}

// The half-length real transform and the two-for-one transform against
// the complex transform of the same values.
TEST(MeterSpeed, RealTransformsMatchTheComplexOne)
{
    std::mt19937 gen(9);
    std::normal_distribution<double> noise(0, 1);
    for (size_t n : {4, 8, 64, 4096}) {
        SCOPED_TRACE(n);
        std::vector<double> a(n), b(n);
        for (size_t i = 0; i < n; ++i) {
            a[i] = noise(gen);
            b[i] = noise(gen) + 0.5;
        }
        const meter::FftPlan plan(n);
        auto complexOf = [&](const std::vector<double>& v) {
            std::vector<std::complex<double>> z(v.begin(), v.end());
            plan.Forward(z);
            return z;
        };
        const std::vector<std::complex<double>> wantA = complexOf(a), wantB = complexOf(b);
        std::vector<std::complex<double>> gotA, gotB, work;
        meter::RealFftPlan(n).Forward(a.data(), gotA);
        ASSERT_EQ(gotA.size(), n / 2 + 1);
        for (size_t k = 0; k <= n / 2; ++k)
            EXPECT_LT(std::abs(gotA[k] - wantA[k]), 1e-12 * std::sqrt(static_cast<double>(n))) << k;
        meter::TransformPair(plan, a.data(), b.data(), work, gotA, gotB);
        for (size_t k = 0; k <= n / 2; ++k) {
            EXPECT_LT(std::abs(gotA[k] - wantA[k]), 1e-12 * std::sqrt(static_cast<double>(n))) << k;
            EXPECT_LT(std::abs(gotB[k] - wantB[k]), 1e-12 * std::sqrt(static_cast<double>(n))) << k;
        }
    }
}

// The plans a process shares: one per length, and threads transforming
// with it at once each get what a transform alone gives.
TEST(MeterSpeed, SharedPlansServeThreadsAtOnce)
{
    const size_t n = 2048;
    ASSERT_EQ(&meter::SharedRealFftPlan(n), &meter::SharedRealFftPlan(n));
    ASSERT_EQ(meter::SharedHannWindow(n), meter::HannWindow(n));
    std::vector<std::vector<double>> inputs(4, std::vector<double>(n));
    std::vector<std::vector<std::complex<double>>> alone(inputs.size());
    std::mt19937 gen(29);
    std::normal_distribution<double> noise(0, 1);
    for (size_t t = 0; t < inputs.size(); ++t) {
        for (double& x : inputs[t])
            x = noise(gen);
        meter::RealFftPlan(n).Forward(inputs[t].data(), alone[t]);
    }
    std::vector<int> wrong(inputs.size(), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < inputs.size(); ++t)
        threads.emplace_back([&, t] {
            std::vector<std::complex<double>> out;
            for (int round = 0; round < 200; ++round) {
                meter::SharedRealFftPlan(n).Forward(inputs[t].data(), out);
                wrong[t] += out != alone[t];
            }
        });
    for (std::thread& th : threads)
        th.join();
    for (size_t t = 0; t < inputs.size(); ++t)
        EXPECT_EQ(wrong[t], 0) << t;
}

// The series for a small phase advance and atan2 elsewhere: within an ulp
// or two of atan2 on either side of the change-over and in every quadrant.
TEST(MeterSpeed, SmallAngleMatchesAtan2)
{
    std::mt19937 gen(13);
    std::uniform_real_distribution<double> any(-1, 1);
    std::vector<std::pair<double, double>> cases = {{0, 1}, {0.125, 1}, {-0.125, 1}, {0.12500001, 1}, {1, 0},
                                                   {0, -1}, {-1e-300, 1}, {1, 1e-300}, {0.1, -1}};
    for (int i = 0; i < 20000; ++i)
        cases.push_back({any(gen) * (i % 2 ? 0.2 : 3), any(gen) + 0.5});
    for (const auto& [y, x] : cases) {
        const double want = std::atan2(y, x);
        EXPECT_NEAR(meter::SmallAngle(y, x), want, 4e-16 * std::max(1e-300, std::abs(want))) << y << " " << x;
    }
}

// Writes a WAVE file of these samples at 44.1 kHz, interleaved.
bool WriteSamples(const std::string& path, int channels, int format, const void* samples, sf_count_t frames)
{
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t written = format == SF_FORMAT_FLOAT ? sf_writef_float(f, static_cast<const float*>(samples), frames)
                                                         : sf_writef_short(f, static_cast<const short*>(samples), frames);
    return sf_close(f) == 0 && written == frames;
}

// A 16-bit file, read as stored and scaled in the demodulator, gives the
// figures of its samples written as floats, mono and stereo.
TEST(MeterSpeed, SixteenBitSamplesGiveTheFiguresOfTheSameFloats)
{
    test::Tone a, b;
    a.mods = {{4, 0.001}, {33, 0.0002}};
    b.carrier = 3000;
    b.mods = {{0.8, 0.002}};
    for (const std::vector<test::Tone>& tones : {std::vector<test::Tone>{a}, std::vector<test::Tone>{a, b}}) {
        const int nch = static_cast<int>(tones.size());
        SCOPED_TRACE(std::to_string(nch) + " channels");
        test::TempDir dir;
        const std::string pcm = (dir.Path() / "pcm16.wav").string(), flt = (dir.Path() / "float.wav").string();
        ASSERT_TRUE(test::WriteTones(pcm, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 12, tones));
        {
            meter::SoundReader in;
            ASSERT_TRUE(in.Open(pcm));
            EXPECT_TRUE(in.Holds16Bit());
            EXPECT_TRUE(in.HoldsIntegers());
            std::vector<float> samples(static_cast<size_t>(in.Frames() * nch));
            ASSERT_EQ(in.Read(samples.data(), in.Frames()), in.Frames());
            ASSERT_TRUE(WriteSamples(flt, nch, SF_FORMAT_FLOAT, samples.data(), in.Frames()));
        }
        meter::SoundReader check;
        ASSERT_TRUE(check.Open(flt));
        EXPECT_FALSE(check.Holds16Bit());
        EXPECT_FALSE(check.HoldsIntegers());

        const meter::MeterResult r16 = meter::RunMeter(pcm, {}), rf = meter::RunMeter(flt, {});
        ASSERT_TRUE(r16.ok) << r16.message;
        ASSERT_TRUE(rf.ok) << rf.message;
        ASSERT_EQ(r16.channels.size(), tones.size());
        for (size_t c = 0; c < tones.size(); ++c) {
            SCOPED_TRACE(c);
            const meter::ChannelFigures &x = r16.channels[c], &y = rf.channels[c];
            EXPECT_EQ(x.carrierHz, y.carrierHz);
            EXPECT_EQ(x.weighted.twoSigmaPercent, y.weighted.twoSigmaPercent);
            EXPECT_EQ(x.unweighted.rmsPercent, y.unweighted.rmsPercent);
            EXPECT_EQ(x.flutterRmsPercent, y.flutterRmsPercent);
            EXPECT_EQ(x.snrDb, y.snrDb);
            EXPECT_EQ(x.noiseFloorPercent, y.noiseFloorPercent);
        }
    }

    // The demodulator alone, on a mono file's samples and a stereo file's channel.
    std::mt19937 gen(17);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (size_t stride : {1, 2}) {
        SCOPED_TRACE(stride);
        std::vector<int16_t> shorts;
        for (int i = 0; i < static_cast<int>(stride) * 30000; ++i)
            shorts.push_back(static_cast<int16_t>(i % static_cast<int>(stride) ? any(gen)
                                                                                 : std::lround(16000 * std::sin(0.45 * i / static_cast<double>(stride)))));
        shorts[0] = -32768;
        shorts[stride] = 32767;
        std::vector<float> floats;
        for (int16_t v : shorts)
            floats.push_back(static_cast<float>(v) / 32768);
        meter::Demodulator d16(44100, 3150), df(44100, 3150);
        std::vector<meter::Demodulator::Sample> o16, of;
        for (size_t at = 0; at < 30000; at += 1000) {
            d16.Push(shorts.data() + stride * at, 1000, stride, o16);
            df.Push(floats.data() + stride * at, 1000, stride, of);
        }
        ASSERT_EQ(o16.size(), of.size());
        ASSERT_FALSE(o16.empty());
        for (size_t i = 0; i < o16.size(); ++i) {
            ASSERT_EQ(o16[i].hz, of[i].hz) << i;
            ASSERT_EQ(o16[i].power, of[i].power) << i;
        }
        EXPECT_EQ(d16.InputPower(), df.InputPower());
    }
}

// The reader gives a 16-bit file's samples as stored, and as floats value / 32768.
TEST(MeterSpeed, SixteenBitSamplesReadAsValueOver32768)
{
    std::vector<int16_t> values = {0, 1, -1, 32767, -32768, 16384, -16384, 12345, -23456};
    std::mt19937 gen(31);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (int i = 0; i < 40001; ++i)  // an even count: whole stereo frames
        values.push_back(static_cast<int16_t>(any(gen)));
    for (int nch : {1, 2}) {
        SCOPED_TRACE(nch);
        test::TempDir dir;
        const std::string path = (dir.Path() / "values.wav").string();
        const int64_t frames = static_cast<int64_t>(values.size()) / nch;
        ASSERT_TRUE(WriteSamples(path, nch, SF_FORMAT_PCM_16, values.data(), frames));
        meter::SoundReader in;
        ASSERT_TRUE(in.Open(path));
        ASSERT_TRUE(in.Holds16Bit());
        std::vector<int16_t> shorts(values.size());
        ASSERT_EQ(in.Read(shorts.data(), frames), frames);
        EXPECT_EQ(shorts, values);
        ASSERT_TRUE(in.Seek(0));
        std::vector<float> floats(values.size());
        ASSERT_EQ(in.Read(floats.data(), frames), frames);
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(floats[i], static_cast<float>(values[i] / 32768.0)) << i << ": " << values[i];
    }
}

}  // namespace
