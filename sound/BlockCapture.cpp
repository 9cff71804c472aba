#include "sound/BlockCapture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tarvo {

void AppendSamples(const unsigned char* bytes, size_t size, SampleKind kind, std::vector<float>& out)
{
    const size_t width = static_cast<size_t>(BytesPerSample(kind));
    const size_t n = size / width;
    const size_t at = out.size();
    out.resize(at + n);
    float* o = out.data() + at;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char* p = bytes + i * width;
        switch (kind) {
        case SampleKind::UInt8: o[i] = static_cast<float>(static_cast<int>(p[0]) - 128) / 128.f; break;
        case SampleKind::Int16:
            o[i] = static_cast<float>(static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8))) / 32768.f;
            break;
        case SampleKind::Int32: {
            const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                    static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
            o[i] = static_cast<float>(static_cast<double>(static_cast<std::int32_t>(u)) / 2147483648.0);
            break;
        }
        case SampleKind::Float: {
            float f;
            std::memcpy(&f, p, sizeof f);  // the machine's order: the audio server's native float
            o[i] = std::isfinite(f) ? std::clamp(f, -1.f, 1.f) : 0.f;
            break;
        }
        }
    }
}

BufferCapture::BufferCapture(std::vector<float> frames, int rate, int channels, size_t blockFrames)
    : data_(std::move(frames)), rate_(rate), channels_(std::max(1, channels)), block_(blockFrames ? blockFrames : 1)
{
}

bool BufferCapture::Start(BlockSink sink, std::string& why)
{
    if (!sink) {
        why = "nothing takes the blocks";
        return false;
    }
    sink_ = std::move(sink);
    return true;
}

size_t BufferCapture::Play(size_t frames)
{
    size_t done = 0;
    while (sink_ && done < frames && FramesLeft() > 0) {
        const size_t n = std::min({block_, frames - done, FramesLeft()});
        const float* p = data_.data() + pos_ * static_cast<size_t>(channels_);
        pos_ += n;
        done += n;
        sink_(p, n);  // may Stop
    }
    return done;
}

}  // namespace tarvo
