// The capture side as a stream: sample blocks handed over as they arrive,
// beside the recorder's take. A live display reads the sound input through
// it; a source that plays a buffer in blocks stands in for the input in
// tests and benchmarks.
#pragma once

#include "sound/Mci.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tarvo {

// Frames of interleaved channels as floats from -1 to 1, as they arrive.
using BlockSink = std::function<void(const float* frames, size_t count)>;
// Told once, with the reason, when a started input goes away (its sound
// server or device is gone): no block arrives after it.
using LossSink = std::function<void(const std::string& why)>;

class BlockCapture {
public:
    virtual ~BlockCapture() = default;
    // Starts handing blocks to sink; false, with the reason in why, when no
    // input could be started. The format is known once started.
    virtual bool Start(BlockSink sink, std::string& why) = 0;
    virtual CaptureFormat Format() const = 0;
    // Stops and releases the input; no block arrives after it.
    virtual void Stop() = 0;
    // Who is told when the input goes away. Called where blocks arrive,
    // never from within Start or Stop; the capture may be stopped from it,
    // but not destroyed.
    void SetLossSink(LossSink sink) { loss_ = std::move(sink); }

protected:
    // For an implementation whose input has gone away.
    void ReportLoss(const std::string& why)
    {
        if (loss_)
            loss_(why);
    }

private:
    LossSink loss_;
};

// Captured bytes of the format's kind as floats, appended to out: every
// whole sample of bytes (a trailing partial sample is left out).
void AppendSamples(const unsigned char* bytes, size_t size, SampleKind kind, std::vector<float>& out);

// A buffer played in blocks: Start remembers the sink, Play hands over the
// next frames in blocks of the set size (the last one shorter).
class BufferCapture : public BlockCapture {
public:
    // frames: interleaved, channels to a frame.
    BufferCapture(std::vector<float> frames, int rate, int channels, size_t blockFrames = 1024);

    bool Start(BlockSink sink, std::string& why) override;
    CaptureFormat Format() const override { return {rate_, channels_, SampleKind::Float}; }
    void Stop() override { sink_ = nullptr; }

    void SetBlockFrames(size_t n) { block_ = n ? n : 1; }
    // Hands over up to `frames` more frames (all that are left by default);
    // answers how many went. Nothing goes before Start or after Stop.
    size_t Play(size_t frames = static_cast<size_t>(-1));
    size_t FramesLeft() const { return (data_.size() / static_cast<size_t>(channels_)) - pos_; }
    bool Started() const { return static_cast<bool>(sink_); }

private:
    std::vector<float> data_;
    int rate_, channels_;
    size_t block_, pos_ = 0;
    BlockSink sink_;
};

}  // namespace tarvo
