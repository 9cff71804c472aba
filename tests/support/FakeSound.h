// Stand-ins for the sound devices: a playback service that records its
// calls, a command interface that records its strings, and a capture
// source that "records" a tone of known frequency in any format.
#pragma once

#include "sound/Mci.h"
#include "sound/SoundService.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::test {

class FakePlayback : public SoundService {
public:
    bool Play(const std::string& name, unsigned flags) override
    {
        calls.emplace_back(name, flags);
        return true;
    }
    bool HasOutputDevice() const override { return output; }
    std::vector<std::pair<std::string, unsigned>> calls;
    bool output = true;  // whether an output device is there
};

// Records every string and forwards it to an inner device when given.
class RecordingMci : public MciDevice {
public:
    explicit RecordingMci(MciDevice* inner = nullptr) : inner_(inner) {}
    unsigned SendString(const std::string& command, std::string* reply = nullptr) override
    {
        sent.push_back(command);
        return inner_ ? inner_->SendString(command, reply) : MCI_OK;
    }
    bool HasInputDevice() const override { return !inner_ || inner_->HasInputDevice(); }
    std::vector<std::string> sent;

private:
    MciDevice* inner_;
};

// Frames of a sine tone laid out as a device might deliver them.
inline std::vector<unsigned char> ToneBytes(const CaptureFormat& f, double hz, int frames, double amplitude = 0.5)
{
    std::vector<unsigned char> out;
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * hz * i / f.rate);
        for (int c = 0; c < f.channels; ++c) {
            switch (f.kind) {
            case SampleKind::UInt8:
                out.push_back(static_cast<unsigned char>(std::lround(128 + 127 * v)));
                break;
            case SampleKind::Int16: {
                auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(32767 * v)));
                out.push_back(static_cast<unsigned char>(s));
                out.push_back(static_cast<unsigned char>(s >> 8));
                break;
            }
            case SampleKind::Int32: {
                auto s = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(2147483647.0 * v)));
                for (int b = 0; b < 4; ++b)
                    out.push_back(static_cast<unsigned char>(s >> (8 * b)));
                break;
            }
            case SampleKind::Float: {
                float fv = static_cast<float>(v);
                std::uint32_t u;
                std::memcpy(&u, &fv, 4);
                for (int b = 0; b < 4; ++b)
                    out.push_back(static_cast<unsigned char>(u >> (8 * b)));
                break;
            }
            }
        }
    }
    return out;
}

// A capture device delivering `seconds` of a tone in its own format
// whatever rate it is asked for.
struct FakeCaptureLog {
    std::vector<int> startedAt;  // the rates asked for
    int stops = 0;
    int live = 0;  // sources not yet destroyed
};

class FakeCapture : public CaptureSource {
public:
    FakeCapture(FakeCaptureLog& log, CaptureFormat format, double hz, double seconds)
        : log_(log), format_(format), hz_(hz), seconds_(seconds)
    {
        ++log_.live;
    }
    ~FakeCapture() override { --log_.live; }
    bool Start(int rate) override
    {
        log_.startedAt.push_back(rate);
        return true;
    }
    CaptureFormat Format() const override { return format_; }
    std::vector<unsigned char> Stop() override
    {
        ++log_.stops;
        return ToneBytes(format_, hz_, static_cast<int>(seconds_ * format_.rate));
    }

private:
    FakeCaptureLog& log_;
    CaptureFormat format_;
    double hz_, seconds_;
};

inline CaptureFactory FakeCaptureFactory(FakeCaptureLog& log, CaptureFormat format = {48000, 2, SampleKind::Int16},
                                         double hz = 3000, double seconds = 2)
{
    return [&log, format, hz, seconds]() -> std::unique_ptr<CaptureSource> {
        return std::make_unique<FakeCapture>(log, format, hz, seconds);
    };
}

}  // namespace tarvo::test
