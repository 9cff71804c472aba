#include "platform/PulseInput.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/simple.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace tarvo {

namespace {

constexpr const char* kClientName = "Tarvo";
constexpr int kAnswerMs = 3000;   // how long a server may take to answer a listing
constexpr int kReadMs = 10;       // a read's length: Stop waits at most this long for the reader
constexpr int kFragmentMs = 20;   // the server hands audio over in pieces this long

// A listing's state, filled by the server's answers.
struct Listing {
    PulseSources found;
    bool serverDone = false, sourcesDone = false, failed = false;
};

// Runs the loop until done() or the server fails or takes too long.
template <class Done>
bool RunUntil(pa_mainloop* loop, pa_context* context, Done done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
    while (!done()) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (!PA_CONTEXT_IS_GOOD(state) || std::chrono::steady_clock::now() >= until)
            return false;
        if (pa_mainloop_prepare(loop, 100 * 1000) < 0 || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
            return false;
    }
    return true;
}

// The server's reason in a sentence's words: its first letter small.
std::string Reason(int error)
{
    if (error == PA_ERR_KILLED || error == PA_ERR_BADSTATE)
        return "the sound server ended the stream";
    if (error == PA_ERR_NOENTITY)
        return "the source is not there";
    std::string why = pa_strerror(error) ? pa_strerror(error) : "the sound server failed";
    if (why.size() > 1 && std::isupper(static_cast<unsigned char>(why[0])) && std::islower(static_cast<unsigned char>(why[1])))
        why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
    return why;
}

// Reads a source on a thread of its own with the simple API; hands the
// samples over on the starting thread.
class PulseBlockCapture : public BlockCapture {
public:
    PulseBlockCapture(std::string name, int rate, int channels) : name_(std::move(name)), rate_(rate), channels_(channels) {}
    ~PulseBlockCapture() override { Stop(); }

    bool Start(BlockSink sink, std::string& why) override
    {
        Stop();
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<uint32_t>(rate_), static_cast<uint8_t>(channels_)};
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentMs * 1000, &spec));
        int error = 0;
        stream_ = pa_simple_new(nullptr, kClientName, PA_STREAM_RECORD, name_.empty() ? nullptr : name_.c_str(),
                                "Sound input", &spec, nullptr, &attr, &error);
        if (!stream_) {
            why = "the sound input could not be started (" + Reason(error) + ")";
            return false;
        }
        sink_ = std::move(sink);
        stopping_ = false;
        listening_ = true;
        const size_t samples = static_cast<size_t>(rate_) * kReadMs / 1000 * static_cast<size_t>(channels_);
        reader_ = std::thread([this, samples] { Read(samples); });
        return true;
    }

    CaptureFormat Format() const override { return {rate_, channels_, SampleKind::Float}; }

    void Stop() override
    {
        listening_ = false;
        sink_ = nullptr;
        if (reader_.joinable()) {
            stopping_ = true;
            reader_.join();
        }
        if (stream_)
            pa_simple_free(stream_);
        stream_ = nullptr;
        std::lock_guard lock(lock_);
        queue_.clear();
        lostWhy_.clear();
        posted_ = false;
    }

private:
    // On the reader's thread: until stopped or the stream fails.
    void Read(size_t samples)
    {
        std::vector<float> block(samples);
        while (!stopping_) {
            int error = 0;
            if (pa_simple_read(stream_, block.data(), samples * sizeof(float), &error) < 0) {
                std::lock_guard lock(lock_);
                lostWhy_ = Reason(error);
                Post();
                return;
            }
            std::lock_guard lock(lock_);
            queue_.insert(queue_.end(), block.begin(), block.end());
            Post();
        }
    }

    // Under lock_: one hand-over waits at a time.
    void Post()
    {
        if (posted_)
            return;
        posted_ = true;
        QMetaObject::invokeMethod(&notice_, [this] { Deliver(); }, Qt::QueuedConnection);
    }

    // On the starting thread.
    void Deliver()
    {
        std::string lost;
        {
            std::lock_guard lock(lock_);
            posted_ = false;
            taken_.swap(queue_);
            queue_.clear();
            lost.swap(lostWhy_);
        }
        if (!listening_)
            return;
        const BlockSink sink = sink_;  // the sink may stop the capture
        if (!taken_.empty() && sink)
            sink(taken_.data(), taken_.size() / static_cast<size_t>(channels_));
        if (!lost.empty() && listening_) {
            Stop();
            ReportLoss(lost);
        }
    }

    std::string name_;
    int rate_, channels_;
    pa_simple* stream_ = nullptr;
    std::thread reader_;
    std::atomic<bool> stopping_{false};
    bool listening_ = false;
    BlockSink sink_;
    std::mutex lock_;
    std::vector<float> queue_;  // under lock_, read and not yet handed over
    std::string lostWhy_;       // under lock_: why the stream failed
    bool posted_ = false;       // under lock_
    std::vector<float> taken_;
    QObject notice_;  // where the samples are handed over
};

// The recorder's take from a source: what arrives between Start and Stop.
class PulseRecording : public CaptureSource {
public:
    explicit PulseRecording(std::string name) : name_(std::move(name)) {}

    bool Start(int rate) override
    {
        data_.clear();
        capture_ = std::make_unique<PulseBlockCapture>(name_, rate, 1);
        std::string why;
        if (!capture_->Start([this](const float* frames, size_t count) {
                const auto* bytes = reinterpret_cast<const unsigned char*>(frames);
                data_.insert(data_.end(), bytes, bytes + count * sizeof(float));
                if (drain_ && data_.size() >= wanted_)
                    drain_->quit();
            }, why)) {
            capture_.reset();
            return false;
        }
        format_ = capture_->Format();
        clock_.start();
        return true;
    }

    CaptureFormat Format() const override { return format_; }

    std::vector<unsigned char> Stop() override
    {
        if (capture_) {
            // What was captured up to now, within a limit: a take lasts from
            // Start to Stop.
            wanted_ = static_cast<size_t>(clock_.elapsed()) * static_cast<size_t>(format_.rate) / 1000 * sizeof(float);
            if (data_.size() < wanted_) {
                QEventLoop loop;
                drain_ = &loop;
                QTimer::singleShot(kDrainLimitMs, &loop, &QEventLoop::quit);
                loop.exec(QEventLoop::ExcludeUserInputEvents);
                drain_ = nullptr;
            }
            capture_->Stop();
            capture_.reset();
            if (data_.size() > wanted_)
                data_.resize(wanted_);
        }
        std::vector<unsigned char> bytes;
        bytes.swap(data_);
        return bytes;
    }

private:
    static constexpr int kDrainLimitMs = 3000;

    std::string name_;
    std::unique_ptr<PulseBlockCapture> capture_;
    CaptureFormat format_;
    std::vector<unsigned char> data_;
    QElapsedTimer clock_;
    QEventLoop* drain_ = nullptr;
    size_t wanted_ = 0;
};

}  // namespace

std::optional<PulseSources> ListPulseSources()
{
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return std::nullopt;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), kClientName);
    Listing l;
    bool ok = context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
              RunUntil(loop, context, [&] { return pa_context_get_state(context) == PA_CONTEXT_READY; });
    if (ok) {
        pa_operation* op = pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* data) {
                auto* l = static_cast<Listing*>(data);
                if (info && info->default_source_name)
                    l->found.defaultName = info->default_source_name;
                l->serverDone = true;
            },
            &l);
        ok = op && RunUntil(loop, context, [&] { return l.serverDone; });
        if (op)
            pa_operation_unref(op);
    }
    if (ok) {
        pa_operation* op = pa_context_get_source_info_list(
            context,
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* l = static_cast<Listing*>(data);
                if (eol) {
                    l->failed = eol < 0;
                    l->sourcesDone = true;
                    return;
                }
                PulseSource s;
                s.input.name = info->name ? info->name : "";
                s.input.description = info->description ? info->description : "";
                s.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
                s.rate = static_cast<int>(info->sample_spec.rate);
                s.channels = info->sample_spec.channels;
                l->found.sources.push_back(std::move(s));
            },
            &l);
        ok = op && RunUntil(loop, context, [&] { return l.sourcesDone; }) && !l.failed;
        if (op)
            pa_operation_unref(op);
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    if (!ok)
        return std::nullopt;
    // The default first, as the inputs are ordered.
    std::vector<SoundInput> inputs;
    for (const PulseSource& s : l.found.sources)
        inputs.push_back(s.input);
    PulseSources out;
    out.defaultName = l.found.defaultName;
    for (const SoundInput& in : OrderInputs(inputs, out.defaultName))
        for (const PulseSource& s : l.found.sources)
            if (s.input.name == in.name) {
                out.sources.push_back(s);
                out.sources.back().input = in;
                break;
            }
    return out;
}

std::unique_ptr<BlockCapture> OpenPulseInput(const PulseSource& source)
{
    // Its own rate where that is a usual one, else 48000 Hz (the server
    // converts); one or two channels.
    const int rate = source.rate >= 8000 && source.rate <= 192000 ? source.rate : 48000;
    const int channels = std::clamp(source.channels, 1, 2);
    return std::make_unique<PulseBlockCapture>(source.input.name, rate, channels);
}

std::unique_ptr<CaptureSource> OpenPulseRecording(const std::string& name)
{
    return std::make_unique<PulseRecording>(name);
}

}  // namespace tarvo
