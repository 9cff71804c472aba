// Writes the seed corpus of the fuzz targets: OUT/wave holds small WAVE
// files of every layout the reader knows (six setting bytes first), OUT/text
// the field texts, NUL-separated.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Tag(Bytes& b, const char* t) { b.insert(b.end(), t, t + 4); }
void U16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void U32(Bytes& b, std::uint32_t v)
{
    U16(b, v & 0xFFFF);
    U16(b, v >> 16);
}

Bytes Chunk(const char* tag, const Bytes& data, long long size = -1)
{
    Bytes b;
    Tag(b, tag);
    U32(b, static_cast<std::uint32_t>(size >= 0 ? size : static_cast<long long>(data.size())));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() % 2)
        b.push_back(0);
    return b;
}

Bytes Fmt(std::uint32_t rate, unsigned channels = 1, unsigned bits = 8, unsigned tag = 1, unsigned extra = 0)
{
    Bytes b;
    U16(b, tag);
    U16(b, channels);
    U32(b, rate);
    U32(b, rate * channels * bits / 8);
    U16(b, channels * bits / 8);
    U16(b, bits);
    b.resize(b.size() + extra, 0);
    return b;
}

Bytes Riff(const std::vector<Bytes>& chunks, long long size = -1)
{
    Bytes body;
    Tag(body, "WAVE");
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    Bytes b;
    Tag(b, "RIFF");
    U32(b, static_cast<std::uint32_t>(size >= 0 ? size : static_cast<long long>(body.size())));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes Tone(size_t n, double freq, double rate)
{
    Bytes s(n);
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<std::uint8_t>(std::lround(128 + 100 * std::sin(2 * M_PI * freq * static_cast<double>(i) / rate)));
    return s;
}

void Write(const std::filesystem::path& p, const Bytes& b)
{
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-fuzz-seeds OUT\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path out = argv[1];
    fs::create_directories(out / "wave");
    fs::create_directories(out / "text");

    const Bytes tone = Tone(256 * 5 + 9, 1000, 8000);
    const std::vector<std::pair<const char*, Bytes>> files = {
        {"plain", Riff({Chunk("fmt ", Fmt(8000)), Chunk("data", tone)})},
        {"list-before-fmt", Riff({Chunk("LIST", Bytes(10, 'i')), Chunk("fmt ", Fmt(8000)), Chunk("data", tone)})},
        {"list-between", Riff({Chunk("fmt ", Fmt(8000)), Chunk("LIST", Bytes(3, 'i')), Chunk("data", tone)})},
        {"fmt-18", Riff({Chunk("fmt ", Fmt(11025, 1, 8, 1, 2)), Chunk("data", tone)})},
        {"fmt-17", Riff({Chunk("fmt ", Fmt(22050, 1, 8, 1, 1)), Chunk("data", tone)})},
        {"fmt-14", Riff({Chunk("fmt ", Bytes(14, 1)), Chunk("data", tone)})},
        {"stereo", Riff({Chunk("fmt ", Fmt(8000, 2)), Chunk("data", tone)})},
        {"16-bit", Riff({Chunk("fmt ", Fmt(8000, 1, 16)), Chunk("data", tone)})},
        {"no-data", Riff({Chunk("fmt ", Fmt(8000))})},
        {"data-first", Riff({Chunk("data", tone), Chunk("fmt ", Fmt(8000))})},
        {"data-too-long", Riff({Chunk("fmt ", Fmt(8000)), Chunk("data", tone, 100000)})},
        {"empty-data", Riff({Chunk("fmt ", Fmt(8000)), Chunk("data", {})})},
        {"riff-size-0", Riff({Chunk("fmt ", Fmt(8000)), Chunk("data", tone)}, 0)},
        {"riff-size-max", Riff({Chunk("fmt ", Fmt(8000)), Chunk("data", tone)}, 0xFFFFFFFF)},
        {"rate-0", Riff({Chunk("fmt ", Fmt(0)), Chunk("data", tone)})},
        {"rate-max", Riff({Chunk("fmt ", Fmt(0xFFFFFFFF)), Chunk("data", tone)})},
        {"short", Bytes{'R', 'I', 'F', 'F', 1, 0}},
    };
    // Settings: chunk size, Low Freq and High Freq as 16-bit numbers, High Amp.
    const Bytes settings[] = {{0, 20, 0, 0x40, 0x17, 4}, {3, 0, 0, 0, 0, 49}, {1, 0x10, 0x27, 0x10, 0x27, 0}};
    int n = 0;
    for (const auto& [name, file] : files) {
        for (const Bytes& s : settings) {
            Bytes b = s;
            b.insert(b.end(), file.begin(), file.end());
            Write(out / "wave" / (std::string(name) + "-" + std::to_string(n++ % 3)), b);
        }
    }

    // The four field texts, NUL-separated.
    auto join = [](std::initializer_list<std::string> parts) {
        std::string t;
        bool first = true;
        for (const std::string& p : parts) {
            if (!first)
                t.push_back('\0');
            t += p;
            first = false;
        }
        return t;
    };
    const std::vector<std::string> texts = {
        join({"a comment", "20", "8000", "5"}),
        join({"\xE2\x82\xAC \xF0\x9F\x8E\xB5 \xC3\xA9", "1e-400", "12000", "50"}),
        join({"\xF5\xFF\xE0\x80\x80\xED\xA0\x80\xF4\x90\x80\x80", "-1", "1e999", "0x10"}),
        join({"back\\slash \"quoted\" \t tab", " 4000.5 ", "+3e3", "7.5"}),
        join({"x\nSample Rate: 99999"}),
        std::string(100, '\x80'),
    };
    n = 0;
    for (const std::string& t : texts)
        Write(out / "text" / ("seed-" + std::to_string(n++)), Bytes(t.begin(), t.end()));
    return 0;
}
