// Builds WAVE files byte by byte for the tests, and writes them to a
// temporary folder that is removed with the test.
#pragma once

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tarvo::test {

using Bytes = std::vector<std::uint8_t>;

inline void PutTag(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }
inline void PutU16(Bytes& b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutU32(Bytes& b, std::uint32_t v)
{
    PutU16(b, v & 0xFFFF);
    PutU16(b, v >> 16);
}

// One chunk: tag, size, data and the pad byte of an odd size. sizeField
// overrides the size written in the header (a lying data chunk).
inline Bytes Chunk(const char* tag, const Bytes& data, long long sizeField = -1)
{
    Bytes b;
    PutTag(b, tag);
    PutU32(b, static_cast<std::uint32_t>(sizeField >= 0 ? sizeField : static_cast<long long>(data.size())));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() % 2)
        b.push_back(0);
    return b;
}

// The format record; extra bytes beyond 16 are appended as given.
inline Bytes FmtData(std::uint32_t rate, std::uint16_t channels = 1, std::uint16_t bits = 8,
                     std::uint16_t tag = 1, const Bytes& extra = {})
{
    Bytes b;
    PutU16(b, tag);
    PutU16(b, channels);
    PutU32(b, rate);
    PutU32(b, rate * channels * bits / 8);
    PutU16(b, static_cast<std::uint32_t>(channels * bits / 8));
    PutU16(b, bits);
    b.insert(b.end(), extra.begin(), extra.end());
    return b;
}

// RIFF....WAVE followed by the given chunks.
inline Bytes Riff(const std::vector<Bytes>& chunks, const char* id = "RIFF", const char* form = "WAVE")
{
    Bytes body;
    PutTag(body, form);
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    Bytes b;
    PutTag(b, id);
    PutU32(b, static_cast<std::uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// The common 44-byte-header layout: 8-bit mono PCM.
inline Bytes Wave8(std::uint32_t rate, const Bytes& samples)
{
    return Riff({Chunk("fmt ", FmtData(rate)), Chunk("data", samples)});
}

// n samples of a sine (amplitude in sample units around 128).
inline Bytes Sine(std::size_t n, double freq, std::uint32_t rate, double amplitude = 100.0, double phase = 0.0)
{
    Bytes s(n);
    for (std::size_t i = 0; i < n; ++i) {
        double v = 128.0 + amplitude * std::sin(2.0 * M_PI * freq * static_cast<double>(i) / rate + phase);
        s[i] = static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
    }
    return s;
}

inline Bytes Silence(std::size_t n) { return Bytes(n, 128); }

// A temporary folder, removed when it goes out of scope.
class TempDir {
public:
    TempDir()
    {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("tarvo-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        std::filesystem::path p = path_ / name;
        std::ofstream f(p, std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    std::string Write(const std::string& name, const std::string& text) const
    {
        return Write(name, Bytes(text.begin(), text.end()));
    }
    // The whole content of a file of the folder, empty when there is none.
    std::string Read(const std::string& name) const
    {
        std::ifstream f(path_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path path_;
};

}  // namespace tarvo::test
