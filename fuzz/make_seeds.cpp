// Writes the seed corpus of the fuzz targets: OUT/wave holds small WAVE
// files of every layout the reader knows (six setting bytes first), OUT/text
// the field texts, NUL-separated; OUT/meter sound files of every container
// and sample format the meter reads (libsndfile writes them), OUT/sound
// inputs of each part of the sound layer, OUT/cli argument lists, OUT/speedlog
// speed logs as sensors write them and as the meter refuses them.
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
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

// A 3 kHz tone with 0.1 % of 4 Hz flutter, written by libsndfile in the
// given container and sample format.
Bytes SoundFile(const std::filesystem::path& scratch, int format, int rate, int channels, double seconds)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(scratch.c_str(), SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "make-fuzz-seeds: %s\n", sf_strerror(nullptr));
        std::exit(1);
    }
    const long frames = std::lround(seconds * rate);
    std::vector<float> pcm(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    double phase = 0;
    for (long i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        phase += 2 * M_PI * 3000 * (1 + 0.001 * std::sin(2 * M_PI * 4 * t)) / rate;
        for (int c = 0; c < channels; ++c)
            pcm[static_cast<size_t>(i * channels + c)] = static_cast<float>(0.5 * std::sin(phase + c));
    }
    sf_writef_float(f, pcm.data(), frames);
    sf_close(f);
    std::ifstream in(scratch, std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(scratch);
    return b;
}

Bytes Text(const std::string& t) { return Bytes(t.begin(), t.end()); }

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

    // The meter: every container and sample format it reads, 8 and 192 kHz,
    // stereo, and files too short to measure. A run reads the whole file
    // twice, so only three seeds are long enough to measure (2.1 s at the
    // lowest rate, 8-bit where the container allows); the other formats
    // are a few hundred bytes, which the fuzzer runs many times a second.
    fs::create_directories(out / "meter");
    const fs::path scratch = out / "meter" / ".scratch";
    const struct {
        const char* name;
        int format, rate, channels;
        double seconds;
    } sounds[] = {
        {"wav-u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1, 2.1},
        {"stereo-u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 2, 2.1},
        {"flac-16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 2.1},
        {"wav-16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 0.02},
        {"wav-24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 8000, 1, 0.02},
        {"wav-32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 8000, 1, 0.02},
        {"wav-float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 0.02},
        {"wavex-16", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 8000, 1, 0.02},
        {"aiff-16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 8000, 1, 0.02},
        {"au-16", SF_FORMAT_AU | SF_FORMAT_PCM_16, 8000, 1, 0.02},
        {"stereo-16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 2, 0.02},
        {"rate-192k", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 192000, 1, 0.002},
        {"short-u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1, 0.01},
        {"short-flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 0.01},
        {"empty", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 0},
    };
    for (const auto& snd : sounds)
        Write(out / "meter" / snd.name, SoundFile(scratch, snd.format, snd.rate, snd.channels, snd.seconds));
    Write(out / "meter" / "riff-only", Bytes{'R', 'I', 'F', 'F'});

    // The sound layer: a part byte, then its input.
    fs::create_directories(out / "sound");
    auto part = [](std::uint8_t p, Bytes rest) {
        rest.insert(rest.begin(), p);
        return rest;
    };
    const Bytes pcm = Tone(200, 1000, 8000);
    Bytes pcmWave = Riff({Chunk("fmt ", Fmt(8000, 2, 16)), Chunk("data", pcm)});
    const std::vector<std::pair<const char*, Bytes>> soundSeeds = {
        {"convert-u8", part(0, [&] { Bytes b{0x40, 0x1F, 0, 0, 0x22, 0x56}; b.insert(b.end(), pcm.begin(), pcm.end()); return b; }())},
        {"convert-float-stereo", part(0, [&] { Bytes b{0x80, 0xBB, 1, 3, 0x22, 0x56}; b.insert(b.end(), pcm.begin(), pcm.end()); return b; }())},
        {"writer", part(1, [&] { Bytes b{0x22, 0x56}; b.insert(b.end(), pcm.begin(), pcm.end()); return b; }())},
        {"reader-8", part(2, Riff({Chunk("fmt ", Fmt(8000)), Chunk("data", pcm)}))},
        {"reader-16-stereo", part(2, pcmWave)},
        {"commands", part(3, [&] {
             Bytes b{0, 0x22, 0x56, 1, 1};
             const Bytes t = Text("open new type waveaudio alias capture\nset capture samplespersec to 22050 wait\n"
                                  "record capture\nsave capture take.wav\nclose capture wait\n\n");
             b.insert(b.end(), t.begin(), t.end());
             b.insert(b.end(), pcm.begin(), pcm.end());
             return b;
         }())},
        {"commands-failing-start", part(3, [&] {
             Bytes b{1, 0x22, 0x56, 0, 0};
             const Bytes t = Text("open new type waveaudio alias capture\nrecord capture\nsave capture a.wav\n"
                                  "record capture\nsave capture b.wav\nclose capture wait\n\n");
             b.insert(b.end(), t.begin(), t.end());
             b.insert(b.end(), pcm.begin(), pcm.end());
             return b;
         }())},
    };
    for (const auto& [name, bytes] : soundSeeds)
        Write(out / "sound" / name, bytes);

    // tarvo-cli's arguments, NUL-separated; a.wav (8-bit mono) and b.wav
    // (16-bit stereo) are there when they run.
    fs::create_directories(out / "cli");
    const std::vector<std::string> cliSeeds = {
        join({"--header", "--freqs", "--wow", "a.wav"}),
        join({"--json", "--chunk", "512", "--low", "2000", "--high", "4000", "--freqs", "--list", "a.wav"}),
        join({"--spectrogram", "--png", "out.png", "--save-data", "out.txt", "a.wav"}),
        join({"--save-data", "a.wav", "a.wav"}),
        join({"--meter", "--meter-csv", "a.wav", "a.wav"}),
        join({"--meter", "--carrier", "3000", "--channel", "all", "--json", "b.wav"}),
        join({"--3khz", "--rec", "3", "--stop", "--freqs", "--wow"}),
        join({"--rec-file", "take.wav", "--rec", "0", "--meter"}),
        join({"--comment", "\xC0\x80", "--add-comments", "--json"}),
        join({"--help"}),
        join({"--", "--header"}),
    };
    n = 0;
    for (const std::string& t : cliSeeds)
        Write(out / "cli" / ("seed-" + std::to_string(n++)), Bytes(t.begin(), t.end()));


    // The batch's lists and summaries: a first byte (odd: a summary; the
    // rest: the size of the pieces it is read in), then the text.
    fs::create_directories(out / "batch");
    const std::string columns =
        "path,channel,seconds,carrier_hz,speed_error_percent,weighted_two_sigma_percent,weighted_rms_percent,"
        "unweighted_two_sigma_percent,unweighted_rms_percent,wow_rms_percent,flutter_rms_percent,drift_percent,"
        "strongest_line_hz,strongest_line_percent,strongest_line_label,snr_db,verdict,failed_limits,message\r\n";
    const std::string row = "a.wav,1,4,3150,,0.1,0.07,0.1,0.07,0.05,0.05,0,4,0.1,,50,pass,,\r\n";
    const std::string stereo = "\"b,\"\"2\"\".wav\",1,4,3150,0.1,0.3,0.2,0.3,0.2,0.1,0.1,0,4,0.3,platter x1,50,fail,weighted,\r\n"
                               "\"b,\"\"2\"\".wav\",2,4,3150,0.1,0.3,0.2,0.3,0.2,0.1,0.1,0,4,0.3,platter x1,50,fail,weighted,\r\n";
    const std::string error = "\"c\r\n.wav\",,,,,,,,,,,,,,,,error,,\"The meter cannot read c.wav: No such file.\"\r\n";
    const std::vector<std::string> batchSeeds = {
        std::string(1, '\x01') + columns + row + stereo + error,
        std::string(1, '\x07') + columns + row + "a.wav,1,4,31",
        std::string(1, '\x03') + columns + row + "\"a.wav,1,4\r\n" + row,
        std::string(1, '\x05') + "notes without a line end",
        std::string(1, '\x00') + "a.wav\nb.wav\r\n\nc d.wav\n",
        std::string(1, '\x04') + std::string("a.wav\0line\nbreak.wav\0", 21),
    };
    n = 0;
    for (const std::string& t : batchSeeds)
        Write(out / "batch" / ("seed-" + std::to_string(n++)), Bytes(t.begin(), t.end()));

    // Speed logs: 2.4 s at 50 rows a second of 0.5 % at 4 Hz, in each
    // separator, unit and layout the reader knows, and as it refuses them.
    fs::create_directories(out / "speedlog");
    auto speedLog = [](const char* head, const char* row, double timeScale, bool percent) {
        std::string s = head;
        char buf[96];
        for (int i = 0; i < 120; ++i) {
            const double t = i / 50.0, dev = 0.5 * std::sin(2 * M_PI * 4 * t);
            std::snprintf(buf, sizeof buf, row, t * timeScale, percent ? dev : 33.3333 * (1 + dev / 100));
            s += buf;
        }
        return s;
    };
    const std::vector<std::pair<const char*, std::string>> logs = {
        {"semicolon-ms", speedLog("Device:;SpeedSensor\nRecorded:;2026-12-07\n\nTime;Speed\n", "%.3f;%.5f\n", 1e3, false)},
        {"comma-seconds-percent", speedLog("Time (s),Speed (%)\n", "%.4f,%.5f\n", 1, true)},
        {"tab-decimal-comma", [&] {
             std::string s = speedLog("t [s]\tdeviation %\n", "%.4f\t%.5f\n", 1, true);
             for (char& c : s)
                 c = c == '.' ? ',' : c;
             return s;
         }()},
        {"micro-hz-crlf", speedLog("\xEF\xBB\xBFTime [us];Speed [Hz]\r\n", "%.0f;%.5f\r\n", 1e6, false)},
        {"unit-minutes", speedLog("Time [min];Speed\n", "%.6f;%.5f\n", 1.0 / 60, false)},
        {"comma-decimal-comma", "Time [ms],Speed [rpm]\n0,33,3\n1,33,4\n"},
        {"outlier", "Time;Speed\n0;33\n1;33\n2;1e308\n3;33\n4;33\n5;33\n6;33\n7;33\n"},
        {"gap", "Time [s];Speed\n0;33\n1;33\n2;33\n3;33\n600;33\n601;33\n602;33\n603;33\n"},
        {"utf16", [&] {
             std::string s = "\xFF\xFE";
             for (char c : speedLog("Time;Speed\n", "%.1f;%.5f\n", 1e3, false))
                 s += std::string{c, '\0'};
             return s;
         }()},
    };
    for (const auto& [name, text] : logs)
        Write(out / "speedlog" / name, Text(text));

    // Machine profiles: stores as tarvo-cli writes them and as a person
    // might, and as the reader refuses them.
    fs::create_directories(out / "decks");
    const std::vector<std::pair<const char*, std::string>> decks = {
        {"written", "# Tarvo machine profiles\n\n[Bench turntable]\ndescription = Belt drive\n"
                    "rpm = 33.333333333333336\ndrive-ratio = 7.5\nmotor-poles = 24\n\n[Deck B]\n"
                    "tape-speed = 19.05\ncapstan-mm = 12\npinch-roller-mm = 25\nmotor-ratio = 2\n"
                    "motor-slots = 18\nreel-mm = 60,265\n"},
        {"by-hand-crlf", "  [Direct]\r\n rpm=45\r\ndrive-ratio =1\r\n# note\r\n[Empty]\r\n"},
        {"utf8", "[Cassette \xC3\xA9t\xC3\xA9]\ndescription = M\xC3\xBCller\ntape-speed = 4.76\n"},
        {"twice", "[A]\nrpm = 45\n[A]\n"},
        {"mixed", "[A]\nrpm = 45\ntape-speed = 4.76\n"},
        {"bad-name", "[A]B]\n[x=y]\n"},
        {"key-first", "rpm = 45\n[A]\n"},
    };
    for (const auto& [name, text] : decks)
        Write(out / "decks" / name, Text(text));
    return 0;
}
