// Playback on QAudioSink and capture on QAudioSource.
#include "platform/SoundPlatform.h"
#include "platform/PulseInput.h"
#include "platform/QtSampleKind.h"

#include "sound/PcmWave.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QCoreApplication>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>

namespace tarvo {

std::unique_ptr<BlockCapture> OpenQtInputStream(const QAudioDevice& device);  // QtBlockCapture.cpp
bool TakeInputComplaint(const QString& message);    // QtBlockCapture.cpp

namespace {

// Serves a sound's frames to the sink, from the start again when looping.
class PcmReader : public QIODevice {
public:
    PcmReader(PcmSound sound, bool loop) : sound_(std::move(sound)), loop_(loop && !sound_.data.empty()) {}

    bool isSequential() const override { return true; }
    bool atEnd() const override { return !loop_ && pos_ >= sound_.data.size(); }
    qint64 bytesAvailable() const override
    {
        return (loop_ ? static_cast<qint64>(sound_.data.size()) : static_cast<qint64>(sound_.data.size() - pos_)) +
               QIODevice::bytesAvailable();
    }
    const PcmSound& Sound() const { return sound_; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        qint64 done = 0;
        while (done < maxSize) {
            if (pos_ >= sound_.data.size()) {
                if (!loop_)
                    break;
                pos_ = 0;
            }
            const auto n = static_cast<size_t>(
                std::min<qint64>(maxSize - done, static_cast<qint64>(sound_.data.size() - pos_)));
            std::memcpy(data + done, sound_.data.data() + pos_, n);
            pos_ += n;
            done += static_cast<qint64>(n);
        }
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    PcmSound sound_;
    bool loop_;
    size_t pos_ = 0;
};

QString FromLocal(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }

class QtSoundService : public SoundService {
public:
    explicit QtSoundService(std::string dataDir) : dataDir_(std::move(dataDir)) {}
    ~QtSoundService() override { StopSound(); }

    bool Play(const std::string& name, unsigned flags) override
    {
        StopSound();
        if (name.empty())
            return true;
        bool found = true;
        std::optional<PcmSound> pcm = BuiltInSound(name);
        if (!pcm) {
            const std::string programDir = QCoreApplication::applicationDirPath().toStdString();
            // Installed, the sounds are in share/tarvo beside the program's bin.
            const std::string dataDir = dataDir_.empty() ? programDir + "/../share/tarvo" : dataDir_;
            const std::string file = ResolveSoundFile(name, programDir, dataDir, [](const std::string& p) {
                QFileInfo info(FromLocal(p));
                return info.isFile();
            });
            if (!file.empty())
                pcm = ReadPcmWaveFile(file);
        }
        if (!pcm) {
            pcm = DefaultSound();
            found = false;
        }
        const bool loop = (flags & SND_LOOP) && (flags & SND_ASYNC);
        Start(std::move(*pcm), loop);
        if (!(flags & SND_ASYNC))
            WaitForSound();
        return found;
    }

    void WaitForSound()
    {
        if (!sink_ || looping_ || finished_)
            return;
        // Never longer than the sound and some slack, so that a stalled
        // stream cannot hold the caller forever.
        const PcmSound& s = reader_->Sound();
        const double seconds = static_cast<double>(s.data.size()) / s.FrameBytes() / s.rate;
        QEventLoop loop;
        onFinished_ = [&loop] { loop.quit(); };
        QTimer::singleShot(static_cast<int>(seconds * 1000) + 2000, &loop, &QEventLoop::quit);
        if (!finished_)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        onFinished_ = nullptr;
        StopSound();
    }

    bool IsPlaying() const { return sink_ && !finished_; }
    bool HasOutputDevice() const override { return !QMediaDevices::defaultAudioOutput().isNull(); }

private:
    void Start(PcmSound pcm, bool loop)
    {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull())
            return;
        QAudioFormat format;
        format.setSampleRate(pcm.rate);
        format.setChannelCount(pcm.channels);
        format.setSampleFormat(pcm.bits == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
        reader_ = std::make_unique<PcmReader>(std::move(pcm), loop);
        reader_->open(QIODevice::ReadOnly);
        sink_ = std::make_unique<QAudioSink>(device, format);
        looping_ = loop;
        finished_ = false;
        QObject::connect(sink_.get(), &QAudioSink::stateChanged, sink_.get(), [this](QAudio::State state) {
            // Idle after the last frame of a sound played once: it has ended.
            if ((state == QAudio::IdleState && reader_ && reader_->atEnd()) || state == QAudio::StoppedState) {
                finished_ = true;
                if (onFinished_)
                    onFinished_();
            }
        });
        sink_->start(reader_.get());
    }

    void StopSound()
    {
        if (sink_) {
            sink_->disconnect();
            sink_->stop();
        }
        sink_.reset();
        reader_.reset();
        looping_ = false;
        finished_ = true;
    }

    std::string dataDir_;
    std::unique_ptr<PcmReader> reader_;
    std::unique_ptr<QAudioSink> sink_;
    bool looping_ = false;
    bool finished_ = true;
    std::function<void()> onFinished_;
};

// An input device, asked for 8-bit mono at the rate; whatever it
// delivers instead is converted when the recording is saved.
class QtCaptureSource : public CaptureSource {
public:
    explicit QtCaptureSource(QAudioDevice device) : device_(std::move(device)) {}
    ~QtCaptureSource() override
    {
        if (source_)
            source_->stop();
    }

    bool Start(int rate) override
    {
        QAudioFormat wanted;
        wanted.setSampleRate(rate);
        wanted.setChannelCount(1);
        wanted.setSampleFormat(QAudioFormat::UInt8);
        QAudioFormat format = device_.isFormatSupported(wanted) ? wanted : device_.preferredFormat();
        if (format.sampleFormat() == QAudioFormat::Unknown || format.channelCount() < 1)
            return false;
        data_.clear();
        source_ = std::make_unique<QAudioSource>(device_, format);
        // Large fragments: a busy machine must not lose captured audio.
        source_->setBufferSize(format.bytesForDuration(kFragmentMs * 1000));
        io_ = source_->start();
        if (!io_ || source_->error() != QAudio::NoError) {
            source_.reset();
            io_ = nullptr;
            return false;
        }
        QObject::connect(io_, &QIODevice::readyRead, source_.get(), [this] {
            data_.append(io_->readAll());
            if (drain_ && data_.size() >= wantedBytes_)
                drain_->quit();
        });
        format_ = {format.sampleRate(), format.channelCount(), KindOf(format.sampleFormat())};
        qformat_ = format;
        clock_.start();
        return true;
    }

    CaptureFormat Format() const override { return format_; }

    std::vector<unsigned char> Stop() override
    {
        if (source_) {
            // The stream hands audio over a fragment at a time: wait for
            // what was captured up to now (within a limit), then keep just
            // that much, so a take lasts from Start to Stop.
            const qint64 frame = qformat_.bytesPerFrame();
            wantedBytes_ = qformat_.bytesForDuration(clock_.elapsed() * 1000) / frame * frame;
            data_.append(io_->readAll());
            if (data_.size() < wantedBytes_) {
                QEventLoop loop;
                drain_ = &loop;
                QTimer::singleShot(kDrainLimitMs, &loop, &QEventLoop::quit);
                loop.exec(QEventLoop::ExcludeUserInputEvents);  // no click may re-enter the recorder
                drain_ = nullptr;
            }
            if (data_.size() > wantedBytes_)
                data_.truncate(wantedBytes_);
            source_->stop();
            source_.reset();
            io_ = nullptr;
        }
        std::vector<unsigned char> bytes(data_.begin(), data_.end());
        data_.clear();
        return bytes;
    }

private:
    static constexpr int kFragmentMs = 500;
    static constexpr int kDrainLimitMs = 3000;

    QAudioDevice device_;
    std::unique_ptr<QAudioSource> source_;
    QIODevice* io_ = nullptr;  // owned by source_
    QByteArray data_;
    CaptureFormat format_;
    QAudioFormat qformat_;
    QElapsedTimer clock_;
    QEventLoop* drain_ = nullptr;
    qint64 wantedBytes_ = 0;
};

// The audio backend's own complaint about a missing sound server is left
// out: the hosts say in their own words that no device was found. Its
// complaints about a live input's stream become that input's reason for
// going away (the backend may complain from its own thread).
QtMessageHandler g_previousHandler = nullptr;

void SoundMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("PulseAudioService:")))
        return;
    if (type == QtWarningMsg && TakeInputComplaint(message))
        return;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
    else
        qt_message_output(type, context, message);
}

}  // namespace

void InstallSoundMessageHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { g_previousHandler = qInstallMessageHandler(SoundMessageHandler); });
}

namespace {

// Where an input is read: Qt's device when Qt lists it, else the sound
// server's source (Qt leaves out the monitors of outputs). Neither when it
// is not there.
struct InputPlace {
    QAudioDevice qt;
    std::optional<PulseSource> server;
    bool Found() const { return !qt.isNull() || server.has_value(); }
};

InputPlace FindInputPlace(const std::string& name)
{
    InputPlace place;
    if (name.empty()) {
        place.qt = QMediaDevices::defaultAudioInput();
        // Where the only source is a monitor, Qt has no default input: the
        // server's default, listed first.
        if (place.qt.isNull())
            if (std::optional<PulseSources> list = ListPulseSources(); list && !list->sources.empty())
                place.server = list->sources.front();
        return place;
    }
    for (const QAudioDevice& d : QMediaDevices::audioInputs())
        if (d.id().toStdString() == name) {
            place.qt = d;
            return place;
        }
    if (std::optional<PulseSources> list = ListPulseSources())
        for (const PulseSource& s : list->sources)
            if (s.input.name == name)
                place.server = s;
    return place;
}

class QtSoundPlatform : public SoundPlatform {
public:
    explicit QtSoundPlatform(const std::string& dataDir)
    {
        InstallSoundMessageHandler();
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "tarvo";
            static char* argv[] = {name, nullptr};
            app_ = std::make_unique<QCoreApplication>(argc, argv);
        }
        playback_ = std::make_unique<QtSoundService>(dataDir);
        recorder_ = std::make_unique<CommandRecorder>([this]() -> std::unique_ptr<CaptureSource> {
            const InputPlace place = FindInputPlace(SelectedInput());
            if (!place.qt.isNull())
                return std::make_unique<QtCaptureSource>(place.qt);
            if (place.server)
                return OpenPulseRecording(place.server->input.name);
            return nullptr;
        }, [this] { return HasInput(); });
    }
    ~QtSoundPlatform() override
    {
        recorder_.reset();
        playback_.reset();
    }

    SoundService& Playback() override { return *playback_; }
    MciDevice& Recorder() override { return *recorder_; }
    bool HasOutput() const override { return !QMediaDevices::defaultAudioOutput().isNull(); }
    bool HasInput() const override { return FindInputPlace(SelectedInput()).Found(); }

    void RunFor(double seconds) override
    {
        // A precise timer: a coarse one (Qt's choice from 2 s up) may end
        // up to 5 % early, and a take would be that much short.
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(std::max(0.0, seconds) * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    void WaitForSound() override { playback_->WaitForSound(); }
    bool IsPlaying() const override { return playback_->IsPlaying(); }
    std::unique_ptr<BlockCapture> OpenInputStream() override
    {
        const InputPlace place = FindInputPlace(SelectedInput());
        if (!place.qt.isNull())
            return OpenQtInputStream(place.qt);
        if (place.server)
            return OpenPulseInput(*place.server);
        return nullptr;
    }

    std::vector<SoundInput> Inputs() override
    {
        std::vector<SoundInput> inputs;
        if (std::optional<PulseSources> list = ListPulseSources()) {
            for (const PulseSource& s : list->sources)
                inputs.push_back(s.input);
            return inputs;
        }
        // Without the server's own list: Qt's, monitors left out.
        for (const QAudioDevice& d : QMediaDevices::audioInputs())
            inputs.push_back({d.id().toStdString(), d.description().toStdString()});
        return OrderInputs(inputs, QMediaDevices::defaultAudioInput().id().toStdString());
    }

private:
    std::unique_ptr<QCoreApplication> app_;
    std::unique_ptr<QtSoundService> playback_;
    std::unique_ptr<CommandRecorder> recorder_;
};

// Makes the real platform on first use and forwards to it.
class LazySoundPlatform : public SoundPlatform, private SoundService, private MciDevice {
public:
    SoundService& Playback() override { return *this; }
    MciDevice& Recorder() override { return *this; }
    bool HasOutput() const override { return Real().HasOutput(); }
    bool HasInput() const override { return Real().HasInput(); }
    void RunFor(double seconds) override { Real().RunFor(seconds); }
    void WaitForSound() override
    {
        if (real_)
            real_->WaitForSound();
    }
    bool IsPlaying() const override { return real_ && real_->IsPlaying(); }
    std::unique_ptr<BlockCapture> OpenInputStream() override { return Real().OpenInputStream(); }
    std::vector<SoundInput> Inputs() override { return Real().Inputs(); }
    void SelectInput(const std::string& name) override
    {
        SoundPlatform::SelectInput(name);
        if (real_)
            real_->SelectInput(name);
    }

private:
    bool Play(const std::string& name, unsigned flags) override
    {
        if (!real_ && name.empty())
            return true;  // nothing can be playing yet
        return Real().Playback().Play(name, flags);
    }
    unsigned SendString(const std::string& command, std::string* reply) override
    {
        return Real().Recorder().SendString(command, reply);
    }
    bool HasInputDevice() const override { return Real().HasInput(); }
    bool HasOutputDevice() const override { return Real().HasOutput(); }
    SoundPlatform& Real() const
    {
        if (!real_) {
            real_ = SoundPlatform::Create();
            real_->SelectInput(SelectedInput());
        }
        return *real_;
    }

    mutable std::unique_ptr<SoundPlatform> real_;
};

}  // namespace

std::unique_ptr<SoundPlatform> SoundPlatform::CreateLazy() { return std::make_unique<LazySoundPlatform>(); }

std::unique_ptr<SoundPlatform> SoundPlatform::Create()
{
    return std::make_unique<QtSoundPlatform>(std::string());
}

}  // namespace tarvo
