// A sound input of Qt's as a stream of blocks, on QAudioSource in push
// mode: whatever arrives is handed over as floats at once. An input whose
// server or device goes away is released and its loss reported once, with
// the backend's complaints about it as the reason rather than on the
// standard error.
#include "platform/SoundPlatform.h"
#include "platform/QtSampleKind.h"

#include "sound/BlockCapture.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>
#include <QPointer>

#include <algorithm>
#include <mutex>
#include <vector>

namespace tarvo {

void InstallSoundMessageHandler();  // QtSound.cpp

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

// Why Qt Multimedia says a source stopped.
std::string ErrorText(QAudio::Error e)
{
    switch (e) {
    case QAudio::FatalError: return "the sound server is gone";
    case QAudio::IOError: return "the device stopped delivering";
    case QAudio::OpenError: return "the device could not be opened";
    default: return "the device failed";
    }
}

// The backend's own words ("Stream error: Connection terminated") as a
// reason: what follows the colon, its first letter small unless the word is
// an abbreviation.
std::string ComplaintReason(const QString& message)
{
    QString why = message.mid(message.indexOf(QLatin1Char(':')) + 1).trimmed();
    if (why.size() > 1 && why[0].isUpper() && why[1].isLower())
        why[0] = why[0].toLower();
    return why.isEmpty() ? std::string("the sound server failed") : why.toStdString();
}

class QtBlockCapture;

// Every capture there is, and the lock over them and their loss state: the
// audio backend complains from its own thread as well as from ours.
std::mutex g_lock;
std::vector<QtBlockCapture*> g_captures;

class QtBlockCapture : public BlockCapture {
public:
    explicit QtBlockCapture(QAudioDevice device) : device_(std::move(device))
    {
        std::lock_guard lock(g_lock);
        g_captures.push_back(this);
    }
    ~QtBlockCapture() override
    {
        Stop();
        std::lock_guard lock(g_lock);
        g_captures.erase(std::find(g_captures.begin(), g_captures.end(), this));
    }

    bool Start(BlockSink sink, std::string& why) override
    {
        Stop();
        InstallSoundMessageHandler();
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
        // A source that stops with an error has lost its server or device
        // (Qt has then destroyed the stream it handed out).
        QAudioSource* source = source_.get();
        QObject::connect(source, &QAudioSource::stateChanged, source, [this, source](QAudio::State state) {
            if (state == QAudio::StoppedState && source->error() != QAudio::NoError)
                Lose(ErrorText(source->error()));
        });
        std::lock_guard lock(g_lock);
        listening_ = true;
        lost_ = false;
        return true;
    }

    CaptureFormat Format() const override { return format_; }

    void Stop() override
    {
        {
            std::lock_guard lock(g_lock);
            listening_ = false;
        }
        sink_ = nullptr;
        if (delivering_) {
            stopping_ = true;  // the source goes once the block in hand is through
            return;
        }
        Release(false);
    }

    // Takes the audio backend's complaint that a capture stream failed,
    // from any thread: each listening capture has lost its input, and one
    // that has lost it already hears no more of it. False when no capture
    // takes it.
    static bool TakeComplaint(const QString& message)
    {
        std::lock_guard lock(g_lock);
        bool taken = false;
        for (QtBlockCapture* c : g_captures)
            if (c->listening_ || c->lost_) {
                c->LoseLocked(ComplaintReason(message));
                taken = true;
            }
        return taken;
    }

private:
    void Lose(const std::string& why)
    {
        std::lock_guard lock(g_lock);
        LoseLocked(why);
    }

    // The first reason is kept; the rest is done on our own thread once the
    // backend's call has returned.
    void LoseLocked(const std::string& why)
    {
        if (!listening_ || lost_)
            return;
        lost_ = true;
        why_ = why;
        QMetaObject::invokeMethod(&notice_, [this] { Gone(); }, Qt::QueuedConnection);
    }

    void Gone()
    {
        std::string why;
        {
            std::lock_guard lock(g_lock);
            if (!listening_)
                return;  // stopped meanwhile
            listening_ = false;
            why = why_;
        }
        Stop();
        ReportLoss(why);
    }

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
            if (io_)  // null when Qt has destroyed it with a failed stream
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
    QPointer<QIODevice> io_;  // owned by source_
    CaptureFormat format_;
    size_t frameBytes_ = 1;
    QByteArray pending_;
    std::vector<float> floats_;
    BlockSink sink_;
    bool delivering_ = false, stopping_ = false;
    QObject notice_;  // where a loss is handled, on our thread
    // Under g_lock: started and not stopped; the input went away since the
    // last start (and why).
    bool listening_ = false, lost_ = false;
    std::string why_;
};

}  // namespace

bool TakeInputComplaint(const QString& message)
{
    // Streamed as a string, the complaint comes in quotes.
    QString text = message;
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    if (!text.startsWith(QLatin1String("pa_stream_peek() failed")) && !text.startsWith(QLatin1String("Stream error")))
        return false;
    return QtBlockCapture::TakeComplaint(text);
}

std::unique_ptr<BlockCapture> OpenQtInputStream(const QAudioDevice& device)
{
    if (device.isNull())
        return nullptr;
    return std::make_unique<QtBlockCapture>(device);
}

}  // namespace tarvo
