// The default sound input as a stream of blocks, on QAudioSource in push
// mode: whatever arrives is handed over as floats at once.
#include "platform/SoundPlatform.h"
#include "platform/QtSampleKind.h"

#include "sound/BlockCapture.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>

namespace tarvo {

namespace {

// The device's buffer: short, since the reading must follow a turned screw
// at once, long enough that a busy window loses nothing.
constexpr int kBufferMs = 100;

// 16-bit or float, 48000 or 44100 Hz, the device's own channel count (one or
// two), in that order of preference; else whatever the device prefers.
QAudioFormat ChooseFormat(const QAudioDevice& device)
{
    const QAudioFormat preferred = device.preferredFormat();
    const int channels = std::clamp(preferred.channelCount(), 1, 2);
    for (int rate : {48000, 44100})
        for (QAudioFormat::SampleFormat kind : {QAudioFormat::Int16, QAudioFormat::Float})
            for (int n : {channels, 3 - channels}) {
                QAudioFormat f;
                f.setSampleRate(rate);
                f.setChannelCount(n);
                f.setSampleFormat(kind);
                if (device.isFormatSupported(f))
                    return f;
            }
    return preferred;
}

class QtBlockCapture : public BlockCapture {
public:
    explicit QtBlockCapture(QAudioDevice device) : device_(std::move(device)) {}
    ~QtBlockCapture() override { Stop(); }

    bool Start(BlockSink sink, std::string& why) override
    {
        Stop();
        const QAudioFormat format = ChooseFormat(device_);
        if (format.sampleFormat() == QAudioFormat::Unknown || format.channelCount() < 1 || format.sampleRate() < 1) {
            why = "the sound input offers no format the meter reads";
            return false;
        }
        source_ = std::make_unique<QAudioSource>(device_, format);
        source_->setBufferSize(format.bytesForDuration(kBufferMs * 1000));
        io_ = source_->start();
        if (!io_ || source_->error() != QAudio::NoError) {
            source_.reset();
            io_ = nullptr;
            why = "the sound input could not be started";
            return false;
        }
        format_ = {format.sampleRate(), format.channelCount(), KindOf(format.sampleFormat())};
        frameBytes_ = static_cast<size_t>(format.bytesPerFrame());
        sink_ = std::move(sink);
        QObject::connect(io_, &QIODevice::readyRead, source_.get(), [this] { Deliver(); });
        return true;
    }

    CaptureFormat Format() const override { return format_; }

    void Stop() override
    {
        sink_ = nullptr;
        if (delivering_) {
            stopping_ = true;  // the source goes once the block in hand is through
            return;
        }
        Release(false);
    }

private:
    void Deliver()
    {
        if (!io_)
            return;
        pending_.append(io_->readAll());
        const size_t whole = static_cast<size_t>(pending_.size()) / frameBytes_ * frameBytes_;
        if (whole == 0 || !sink_)
            return;
        floats_.clear();
        AppendSamples(reinterpret_cast<const unsigned char*>(pending_.constData()), whole, format_.kind, floats_);
        pending_.remove(0, static_cast<qsizetype>(whole));
        delivering_ = true;
        sink_(floats_.data(), floats_.size() / static_cast<size_t>(format_.channels));
        delivering_ = false;
        if (stopping_) {
            stopping_ = false;
            Release(true);  // within the source's own signal: deleted once it has returned
        }
    }

    void Release(bool later)
    {
        if (source_) {
            source_->disconnect();
            if (io_)
                io_->disconnect();
            source_->stop();
            if (later)
                source_.release()->deleteLater();
            else
                source_.reset();
        }
        io_ = nullptr;
        pending_.clear();
    }

    QAudioDevice device_;
    std::unique_ptr<QAudioSource> source_;
    QIODevice* io_ = nullptr;  // owned by source_
    CaptureFormat format_;
    size_t frameBytes_ = 1;
    QByteArray pending_;
    std::vector<float> floats_;
    BlockSink sink_;
    bool delivering_ = false, stopping_ = false;
};

}  // namespace

std::unique_ptr<BlockCapture> OpenQtInputStream()
{
    QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull())
        return nullptr;
    return std::make_unique<QtBlockCapture>(device);
}

}  // namespace tarvo
