#include "meter/Meter.h"

#include "meter/Analyser.h"
#include "meter/Demodulator.h"
#include "meter/Dsp.h"
#include "meter/SoundReader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>

namespace tarvo::meter {

namespace {

constexpr int64_t kBlockFrames = 8192;
constexpr int kLowestRate = 8000;
constexpr int kCarrierLooks = 8;       // spectra spread over the file to find the carrier
constexpr double kToneOverFloor = 1000;  // the tone's lobe over the median bin (30 dB)
constexpr double kCarrierShare = 0.1;  // least share of the spectrum's power in the tone found
constexpr double kToneShare = 0.05;    // least share of the signal's power in the tone followed

std::string Fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string NameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

double HighestCarrier(int rate) { return std::min(kHighestCarrier, rate / 2.0 - 400); }

// The strongest tone between the carrier limits in each selected channel,
// from Hann spectra spread evenly over the file; 0 where there is none.
std::vector<double> FindCarriers(SoundReader& in, const std::vector<int>& channels)
{
    const int rate = in.Rate(), nch = in.Channels();
    size_t n = 4096;
    while (static_cast<double>(n) < rate / 4.0)  // bins of 4 Hz at most
        n *= 2;
    while (n > 1024 && static_cast<int64_t>(n) > in.Frames())
        n /= 2;
    const int64_t looks = std::max<int64_t>(1, std::min<int64_t>(kCarrierLooks, in.Frames() / static_cast<int64_t>(n)));
    const std::vector<double> hann = HannWindow(n);
    std::vector<std::vector<double>> power(channels.size(), std::vector<double>(n / 2 + 1, 0.0));
    std::vector<float> block(n * static_cast<size_t>(nch));
    std::vector<std::complex<double>> x(n);
    const FftPlan plan(n);
    for (int64_t l = 0; l < looks; ++l) {
        const int64_t at = looks > 1 ? l * (in.Frames() - static_cast<int64_t>(n)) / (looks - 1) : 0;
        if (!in.Seek(at))
            break;
        const int64_t got = in.Read(block.data(), static_cast<int64_t>(n));
        for (size_t c = 0; c < channels.size(); ++c) {
            const size_t ch = static_cast<size_t>(channels[c] - 1);
            for (size_t i = 0; i < n; ++i)
                x[i] = static_cast<int64_t>(i) < got ? block[i * static_cast<size_t>(nch) + ch] * hann[i] : 0.0;
            plan.Forward(x);
            for (size_t k = 0; k <= n / 2; ++k)
                power[c][k] += std::norm(x[k]);
        }
    }
    in.Seek(0);

    const double bin = static_cast<double>(rate) / static_cast<double>(n);
    const size_t lo = static_cast<size_t>(std::ceil(kLowestCarrier / bin));
    const size_t hi = std::min(n / 2 - 3, static_cast<size_t>(HighestCarrier(rate) / bin));
    std::vector<double> carriers(channels.size(), 0.0);
    if (lo + 8 >= hi)
        return carriers;
    for (size_t c = 0; c < channels.size(); ++c) {
        const std::vector<double>& p = power[c];
        const size_t peak = static_cast<size_t>(std::max_element(p.begin() + static_cast<std::ptrdiff_t>(lo),
                                                                 p.begin() + static_cast<std::ptrdiff_t>(hi) + 1) -
                                                p.begin());
        double lobe = 0, moment = 0;
        for (size_t k = peak - 3; k <= peak + 3; ++k) {
            lobe += p[k];
            moment += p[k] * static_cast<double>(k);
        }
        std::vector<double> band(p.begin() + static_cast<std::ptrdiff_t>(lo), p.begin() + static_cast<std::ptrdiff_t>(hi) + 1);
        std::nth_element(band.begin(), band.begin() + static_cast<std::ptrdiff_t>(band.size() / 2), band.end());
        const double median = band[band.size() / 2];
        double total = 0;
        for (double v : p)
            total += v;
        if (lobe > 0 && lobe > kToneOverFloor * median && lobe > kCarrierShare * total)
            carriers[c] = moment / lobe * bin;
    }
    return carriers;
}

struct Channel {
    int number;
    std::unique_ptr<Demodulator> demod;
    std::unique_ptr<ChannelAnalyser> analyser;
    double tonePower = 0;
    int64_t toneCount = 0;
};

// Opens the file and checks what every run needs; the message when it fails.
std::string OpenChecked(SoundReader& in, const std::string& path, const MeterSettings& settings,
                        std::vector<int>& channels)
{
    const std::string name = NameOf(path);
    if (!in.Open(path))
        return "The meter cannot read " + name + ": " + in.Error();
    if (in.Rate() < kLowestRate)
        return "The meter needs a sample rate of at least 8000 Hz; " + name + " has " + std::to_string(in.Rate()) +
               " Hz.";
    const double seconds = static_cast<double>(in.Frames()) / in.Rate();
    if (seconds < kShortestSeconds)
        return "The meter needs at least 2 seconds of sound; " + name + " lasts " + Fixed(seconds, 2) + " s.";
    channels = settings.channels;
    if (channels.empty())
        for (int c = 1; c <= in.Channels(); ++c)
            channels.push_back(c);
    for (int c : channels)
        if (c < 1 || c > in.Channels())
            return name + " has no channel " + std::to_string(c) + "; it has " + std::to_string(in.Channels()) + ".";
    if (settings.carrierHz != 0 && !(settings.carrierHz >= kLowestCarrier && settings.carrierHz <= HighestCarrier(in.Rate())))
        return "The carrier must lie between 500 Hz and " + Fixed(HighestCarrier(in.Rate()), 0) + " Hz for " + name +
               ".";
    return {};
}

enum class Streamed { Whole, Cancelled, Short };

// Streams the file through the channels.
Streamed Stream(SoundReader& in, std::vector<Channel>& chans, const MeterProgress& progress,
                const std::function<void()>& afterBlock = {})
{
    const int nch = in.Channels();
    std::vector<float> block(static_cast<size_t>(kBlockFrames * nch));
    std::vector<Demodulator::Sample> track;
    int64_t done = 0;
    for (;;) {
        const int64_t got = in.Read(block.data(), kBlockFrames);
        if (got <= 0)
            break;
        for (Channel& c : chans) {
            const float* x = block.data() + (c.number - 1);
            track.clear();
            c.demod->Push(x, static_cast<size_t>(got), static_cast<size_t>(nch), track);
            for (const Demodulator::Sample& s : track) {
                c.analyser->Add(s.hz);
                c.tonePower += s.power;
                ++c.toneCount;
            }
        }
        if (afterBlock)
            afterBlock();
        done += got;
        if (progress && !progress(in.Frames() > 0 ? static_cast<double>(done) / static_cast<double>(in.Frames()) : 0))
            return Streamed::Cancelled;
    }
    // A file that breaks off before the length its header gives would
    // otherwise be measured as if it were whole.
    return done < in.Frames() ? Streamed::Short : Streamed::Whole;
}

}  // namespace

MeterResult RunMeter(const std::string& path, const MeterSettings& settings, const MeterProgress& progress)
{
    MeterResult r;
    SoundReader in;
    std::vector<int> channels;
    r.message = OpenChecked(in, path, settings, channels);
    if (!r.message.empty())
        return r;
    r.rate = in.Rate();
    const std::string name = NameOf(path);
    const double seconds = static_cast<double>(in.Frames()) / in.Rate();

    std::vector<double> carriers(channels.size(), settings.carrierHz);
    if (settings.carrierHz == 0) {
        carriers = FindCarriers(in, channels);
        for (size_t i = 0; i < channels.size(); ++i)
            if (carriers[i] == 0) {
                r.message = "No tone between 500 and 10000 Hz in channel " + std::to_string(channels[i]) + " of " +
                            name + ".";
                return r;
            }
    }

    std::vector<Channel> chans;
    for (size_t i = 0; i < channels.size(); ++i) {
        Channel c;
        c.number = channels[i];
        c.demod = std::make_unique<Demodulator>(in.Rate(), carriers[i]);
        c.analyser = std::make_unique<ChannelAnalyser>(c.demod->OutputRate(), carriers[i], seconds);
        chans.push_back(std::move(c));
    }
    switch (Stream(in, chans, progress)) {
    case Streamed::Cancelled:
        r.cancelled = true;
        r.message = "The measurement of " + name + " was cancelled.";
        return r;
    case Streamed::Short:
        r.message = "The meter could not read all of " + name + ": the file breaks off before the " +
                    Fixed(seconds, 2) + " s its header gives.";
        return r;
    case Streamed::Whole:
        break;
    }

    for (Channel& c : chans) {
        // Most of the signal's power must be in the tone the meter follows.
        const double input = c.demod->InputPower();
        const double tone = c.tonePower / static_cast<double>(std::max<int64_t>(1, c.toneCount));
        if (c.toneCount == 0 || !(tone > kToneShare * input)) {
            r.message = "No tone near " + Fixed(c.demod->Carrier(), 1) + " Hz in channel " + std::to_string(c.number) +
                        " of " + name + ".";
            return r;
        }
        ChannelFigures f = c.analyser->Finish();
        f.channel = c.number;
        const double noise = std::max(0.0, input - tone);
        f.snrDb = noise > 0 ? 10 * std::log10(tone / noise) : 200;
        if (settings.nominalHz > 0) {
            f.speedErrorPercent = SpeedError(f.carrierHz, settings.nominalHz);
            if (!f.speedErrorPercent)
                f.warnings.push_back("The tone at " + Fixed(f.carrierHz, 1) + " Hz lies more than 10 % from the nominal " +
                                     Fixed(settings.nominalHz, 1) + " Hz: no speed error is given.");
        }
        r.channels.push_back(std::move(f));
    }
    r.ok = true;
    return r;
}

bool WriteMeterCsv(const std::string& path, const MeterSettings& settings, const MeterResult& result,
                   const std::string& csvPath, std::string& error)
{
    if (!result.ok) {
        error = result.message;
        return false;
    }
    std::ofstream out(csvPath, std::ios::binary);
    if (!out) {
        error = "cannot write " + csvPath;
        return false;
    }
    SoundReader in;
    std::vector<int> channels;
    MeterSettings again = settings;
    again.carrierHz = 0;
    error = OpenChecked(in, path, again, channels);
    if (!error.empty())
        return false;

    const double seconds = static_cast<double>(in.Frames()) / in.Rate();
    std::vector<Channel> chans;
    std::vector<std::deque<std::pair<double, double>>> queues(result.channels.size());
    double slowRate = 0;
    out << "# Tarvo standards wow-and-flutter meter: deviation track\n";
    out << "# file: " << path << "\n";
    out << "# standard: " << result.standard << "\n";
    out << "# sample rate: " << in.Rate() << " Hz\n";
    out << "# carrier: " << (settings.carrierHz != 0 ? Fixed(settings.carrierHz, 3) + " Hz" : std::string("automatic"))
        << "\n";
    for (size_t i = 0; i < result.channels.size(); ++i) {
        const ChannelFigures& f = result.channels[i];
        Channel c;
        c.number = f.channel;
        c.demod = std::make_unique<Demodulator>(in.Rate(), f.carrierHz);
        c.analyser = std::make_unique<ChannelAnalyser>(c.demod->OutputRate(), f.carrierHz, seconds);
        const double pct = 100 / f.carrierHz;
        c.analyser->SetSink([&q = queues[i], pct](double, double dev, double weighted) {
            q.emplace_back(dev * pct, weighted * pct);
        });
        slowRate = c.analyser->SlowRate();
        out << "# channel " << f.channel << ": mean carrier " << Fixed(f.carrierHz, 3) << " Hz\n";
        chans.push_back(std::move(c));
    }
    out << "# deviation: percent of the mean carrier, 0 to 400 Hz; weighted: the standard's weighting, percent\n";
    out << "# rate of the track: " << Fixed(slowRate, 3) << " points a second\n";
    out << "time_s";
    for (const ChannelFigures& f : result.channels)
        out << ",ch" << f.channel << "_deviation_percent,ch" << f.channel << "_weighted_percent";
    out << "\n";

    const double delay = chans.empty() ? 0 : chans.front().demod->Delay();
    int64_t row = 0;
    auto flush = [&] {
        size_t ready = queues.front().size();
        for (const auto& q : queues)
            ready = std::min(ready, q.size());
        char buf[64];
        for (size_t k = 0; k < ready; ++k, ++row) {
            std::snprintf(buf, sizeof buf, "%.5f", delay + static_cast<double>(row) / slowRate);
            out << buf;
            for (auto& q : queues) {
                std::snprintf(buf, sizeof buf, ",%.6f,%.6f", q.front().first, q.front().second);
                out << buf;
                q.pop_front();
            }
            out << "\n";
        }
    };
    const Streamed streamed = Stream(in, chans, {}, flush);
    flush();
    if (streamed != Streamed::Whole) {
        error = "the file breaks off before its end";
        return false;
    }
    out.flush();
    if (!out) {
        error = "cannot write " + csvPath;
        return false;
    }
    return true;
}

std::optional<double> SpeedError(double carrierHz, double nominalHz)
{
    if (!(nominalHz > 0))
        return std::nullopt;
    const double e = (carrierHz - nominalHz) / nominalHz * 100;
    if (!(std::abs(e) <= kFarthestNominalPercent))
        return std::nullopt;
    return e;
}

std::vector<std::pair<std::string, std::string>> FigureLines(const ChannelFigures& c)
{
    std::string lines;
    for (const ModulationLine& m : c.modulation) {
        if (!lines.empty())
            lines += ", ";
        lines += Fixed(m.hz, 2) + " Hz " + Fixed(m.percent, 4) + " %";
    }
    std::vector<std::pair<std::string, std::string>> out = {
        {"carrier (mean, Hz)", Fixed(c.carrierHz, 3)},
        {"length (s)", Fixed(c.seconds, 3)},
        {"weighted peak (2-sigma, +-%)", Fixed(c.weighted.twoSigmaPercent, 4)},
        {"weighted rms (%)", Fixed(c.weighted.rmsPercent, 4)},
        {"unweighted peak (2-sigma, +-%)", Fixed(c.unweighted.twoSigmaPercent, 4)},
        {"unweighted rms (%)", Fixed(c.unweighted.rmsPercent, 4)},
        {"wow rms (0.5-6 Hz, %)", Fixed(c.wowRmsPercent, 4)},
        {"flutter rms (6-200 Hz, %)", Fixed(c.flutterRmsPercent, 4)},
        {"drift (spread of 2 s means, %)", Fixed(c.driftPercent, 4)},
        {"modulation (peak deviation)", lines.empty() ? std::string("none") : lines},
        {"band top (Hz)", Fixed(c.bandHighHz, 1)},
        {"signal-to-noise (dB)", Fixed(c.snrDb, 1)},
        {"noise floor (weighted 2-sigma, +-%)", Fixed(c.noiseFloorPercent, 4)},
    };
    if (c.speedErrorPercent) {
        const std::string sign = *c.speedErrorPercent > 0 ? "+" : "";
        out.insert(out.begin() + 1, {"speed error (%)", sign + Fixed(*c.speedErrorPercent, 3)});
    }
    for (const std::string& w : c.warnings)
        out.push_back({"warning", w});
    return out;
}

}  // namespace tarvo::meter
