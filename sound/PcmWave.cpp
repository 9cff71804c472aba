#include "sound/PcmWave.h"

#include "framework/SafeOutput.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>

namespace tarvo {

namespace {

std::uint32_t U32(const std::vector<unsigned char>& b, size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t U16(const std::vector<unsigned char>& b, size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

bool TagAt(const std::vector<unsigned char>& b, size_t at, const char* tag)
{
    return std::equal(tag, tag + 4, b.begin() + static_cast<std::ptrdiff_t>(at));
}

void PutU32(std::vector<unsigned char>& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void PutU16(std::vector<unsigned char>& b, std::uint16_t v)
{
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}

void PutTag(std::vector<unsigned char>& b, const char* tag)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(tag[i]));
}

// One sample of a captured frame as a value from -1 to 1.
double SampleValue(const unsigned char* p, SampleKind kind)
{
    switch (kind) {
    case SampleKind::UInt8:
        return (static_cast<int>(p[0]) - 128) / 128.0;
    case SampleKind::Int16:
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8)) / 32768.0;
    case SampleKind::Int32: {
        std::uint32_t u = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                          static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
        return static_cast<std::int32_t>(u) / 2147483648.0;
    }
    case SampleKind::Float: {
        std::uint32_t u = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                          static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
        float f;
        static_assert(sizeof f == sizeof u);
        std::memcpy(&f, &u, sizeof f);
        return std::isfinite(f) ? std::clamp(static_cast<double>(f), -1.0, 1.0) : 0.0;
    }
    }
    return 0.0;
}

unsigned char Quantise8(double v)
{
    double s = std::round(128.0 + v * 128.0);
    return static_cast<unsigned char>(std::clamp(s, 0.0, 255.0));
}

PcmSound Synth(std::initializer_list<std::pair<double, double>> notes)
{
    // Notes of (frequency, seconds), each with a short rise and a decay.
    PcmSound s{kTestSoundRate, 1, 8, {}};
    for (auto [hz, seconds] : notes) {
        const int n = static_cast<int>(seconds * s.rate);
        for (int i = 0; i < n; ++i) {
            double t = static_cast<double>(i) / s.rate;
            double env = std::min(1.0, i / 200.0) * std::exp(-4.0 * t / seconds);
            s.data.push_back(Quantise8(0.6 * env * std::sin(2 * std::numbers::pi * hz * t)));
        }
    }
    return s;
}

}  // namespace

int BytesPerSample(SampleKind kind)
{
    switch (kind) {
    case SampleKind::UInt8: return 1;
    case SampleKind::Int16: return 2;
    case SampleKind::Int32:
    case SampleKind::Float: return 4;
    }
    return 1;
}

std::optional<PcmSound> ParsePcmWave(const std::vector<unsigned char>& bytes)
{
    if (bytes.size() < 12 || !TagAt(bytes, 0, "RIFF") || !TagAt(bytes, 8, "WAVE"))
        return std::nullopt;
    std::optional<PcmSound> fmt;
    size_t at = 12;
    while (bytes.size() - at >= 8) {
        const std::uint32_t size = U32(bytes, at + 4);
        const size_t body = at + 8;
        const size_t avail = bytes.size() - body;
        if (TagAt(bytes, at, "fmt ")) {
            if (size < 16 || avail < 16)
                return std::nullopt;
            const unsigned tag = U16(bytes, body), channels = U16(bytes, body + 2), bits = U16(bytes, body + 14);
            const std::uint32_t rate = U32(bytes, body + 4);
            if (tag != 1 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16) || rate < 1000 ||
                rate > 192000)
                return std::nullopt;
            fmt = PcmSound{static_cast<int>(rate), static_cast<int>(channels), static_cast<int>(bits), {}};
        } else if (TagAt(bytes, at, "data")) {
            if (!fmt)
                return std::nullopt;
            size_t n = std::min<size_t>(size, avail);
            n -= n % static_cast<size_t>(fmt->FrameBytes());
            fmt->data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(body),
                             bytes.begin() + static_cast<std::ptrdiff_t>(body + n));
            return fmt;
        }
        // Chunks are padded to an even size; one that runs past the end ends the search.
        const std::uint64_t next = static_cast<std::uint64_t>(body) + size + (size & 1u);
        if (next > bytes.size())
            break;
        at = static_cast<size_t>(next);
    }
    return std::nullopt;
}

std::optional<PcmSound> ReadPcmWaveFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return std::nullopt;
    // A playable file is not expected to be large; a huge one is refused
    // rather than read whole.
    f.seekg(0, std::ios::end);
    const auto size = f.tellg();
    if (size < 0 || size > (std::streamoff{1} << 30))
        return std::nullopt;
    f.seekg(0);
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    if (!f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        return std::nullopt;
    return ParsePcmWave(bytes);
}

std::vector<unsigned char> Wave8MonoBytes(int rate, const std::vector<unsigned char>& samples)
{
    const auto n = static_cast<std::uint32_t>(samples.size());
    std::vector<unsigned char> b;
    b.reserve(44 + samples.size() + 1);
    PutTag(b, "RIFF");
    PutU32(b, 36 + n + (n & 1u));
    PutTag(b, "WAVE");
    PutTag(b, "fmt ");
    PutU32(b, 16);
    PutU16(b, 1);  // PCM
    PutU16(b, 1);  // mono
    PutU32(b, static_cast<std::uint32_t>(rate));
    PutU32(b, static_cast<std::uint32_t>(rate));  // bytes a second
    PutU16(b, 1);                                 // block align
    PutU16(b, 8);                                 // bits
    PutTag(b, "data");
    PutU32(b, n);
    b.insert(b.end(), samples.begin(), samples.end());
    if (n & 1u)
        b.push_back(0);  // pad byte
    return b;
}

bool WriteWave8MonoFile(const std::string& path, int rate, const std::vector<unsigned char>& samples,
                        std::string* reason)
{
    const std::vector<unsigned char> bytes = Wave8MonoBytes(rate, samples);
    // Written beside path and renamed into place: a failure leaves an old
    // file whole.
    return WriteFileSafely(path, std::string(bytes.begin(), bytes.end()), {}, reason);
}

std::vector<unsigned char> ConvertToMono8(const std::vector<unsigned char>& bytes, const CaptureFormat& format,
                                          int outRate)
{
    std::vector<unsigned char> out;
    if (format.channels < 1 || format.rate <= 0 || outRate <= 0)
        return out;
    const size_t sampleBytes = static_cast<size_t>(BytesPerSample(format.kind));
    const size_t frameBytes = sampleBytes * static_cast<size_t>(format.channels);
    const size_t frames = bytes.size() / frameBytes;
    if (frames == 0)
        return out;

    std::vector<double> mono(frames);
    for (size_t f = 0; f < frames; ++f) {
        double sum = 0;
        for (int c = 0; c < format.channels; ++c)
            sum += SampleValue(&bytes[f * frameBytes + static_cast<size_t>(c) * sampleBytes], format.kind);
        mono[f] = sum / format.channels;
    }

    if (format.rate == outRate) {
        out.reserve(frames);
        for (double v : mono)
            out.push_back(Quantise8(v));
        return out;
    }
    const double step = static_cast<double>(format.rate) / outRate;
    const auto count = static_cast<size_t>(std::floor((static_cast<double>(frames) - 1) / step)) + 1;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const double pos = static_cast<double>(i) * step;
        const auto k = static_cast<size_t>(pos);
        const double frac = pos - static_cast<double>(k);
        const double v = k + 1 < frames ? mono[k] + (mono[k + 1] - mono[k]) * frac : mono[k];
        out.push_back(Quantise8(v));
    }
    return out;
}

std::optional<PcmSound> BuiltInSound(const std::string& name)
{
    std::string key;
    std::transform(name.begin(), name.end(), std::back_inserter(key),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (key == "systemdefault")
        return DefaultSound();
    if (key == "systemasterisk")
        return Synth({{1318.5, 0.15}, {1760.0, 0.25}});
    if (key == "systemexclamation")
        return Synth({{659.3, 0.12}, {659.3, 0.2}});
    if (key == "systemhand")
        return Synth({{392.0, 0.15}, {261.6, 0.3}});
    if (key == "systemquestion")
        return Synth({{880.0, 0.12}, {1174.7, 0.2}});
    return std::nullopt;
}

const PcmSound& DefaultSound()
{
    static const PcmSound s = Synth({{880.0, 0.08}, {1108.7, 0.18}});
    return s;
}

std::string ResolveSoundFile(const std::string& name, const std::string& programDir, const std::string& dataDir,
                             const std::function<bool(const std::string&)>& exists)
{
    if (name.empty())
        return {};
    if (exists(name))
        return name;
    if (name.front() == '/')
        return {};
    for (const std::string& dir : {programDir, dataDir}) {
        if (dir.empty())
            continue;
        std::string candidate = dir.back() == '/' ? dir + name : dir + "/" + name;
        if (exists(candidate))
            return candidate;
    }
    return {};
}

std::vector<unsigned char> ToneSamples(double hz, int periods, int rate)
{
    const auto n = static_cast<size_t>(std::llround(periods * rate / hz));
    std::vector<unsigned char> s(n);
    for (size_t i = 0; i < n; ++i)
        s[i] = Quantise8(0.75 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    return s;
}

std::vector<unsigned char> WhiteNoiseSamples(int count)
{
    std::vector<unsigned char> s(static_cast<size_t>(std::max(count, 0)));
    std::uint32_t x = 0x2545F491u;
    for (auto& v : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = static_cast<unsigned char>(64 + (x >> 24) % 128);  // half of full scale, no clipping
    }
    return s;
}

}  // namespace tarvo
