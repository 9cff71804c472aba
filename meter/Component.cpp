#include "meter/Component.h"

#include "meter/Dsp.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

namespace tarvo::meter {

namespace {

constexpr double kShareOfLine = 0.02;  // the band's half width, of the line's frequency
constexpr double kLobeBins = 2;        // the spectrum's lobe each side of its peak
// The deviation is thinned to this many points a cycle of the line (and to
// at least kLeastRate a second) before it is filtered: a bucket's min and
// max then miss a sinusoid's peak by under 0.3 %.
constexpr double kPointsPerCycle = 40, kLeastRate = 100;
// Buckets at most: a day of sound in 10 ms buckets.
constexpr double kMostBuckets = 1e7;
// Points reserved from the run's length at most; a longer track grows as it is read.
constexpr double kMostReserved = 1 << 20;

// Fourth-order Butterworth band-pass from lowHz to highHz, unit gain at
// centreHz: each pole p of the second-order low-pass prototype (unit
// corner) gives the two roots of s^2 - p B s + w0^2, with the band's edges
// pre-warped; two zeros at 0 Hz.
Cascade BandPass(double lowHz, double highHz, double centreHz, double rate)
{
    const auto warp = [rate](double hz) { return 2 * rate * std::tan(std::numbers::pi * hz / rate); };
    const double w1 = warp(lowHz), w2 = warp(highHz);
    const double w0 = std::sqrt(w1 * w2), b = w2 - w1;
    const std::complex<double> p = std::polar(1.0, 3 * std::numbers::pi / 4);
    const std::complex<double> root = std::sqrt(p * p * b * b - 4 * w0 * w0);
    AnaloguePrototype proto;
    proto.poles = {(p * b + root) / 2.0, (p * b - root) / 2.0};
    proto.zeros = {0.0, 0.0};
    return Bilinear(proto, rate, centreHz);
}

}  // namespace

void ComponentBand(double lineHz, double binHz, double& lowHz, double& highHz)
{
    const double half = std::min(lineHz / 2, std::max(kShareOfLine * lineHz, kLobeBins * binHz));
    lowHz = lineHz - half;
    highHz = lineHz + half;
}

bool LineComponent(const std::string& path, const MeterSettings& s, const MeterResult& r, size_t channelIndex,
                   double lineHz, double bucketSeconds, ComponentTrack& out, std::string& error,
                   const MeterProgress& progress)
{
    out = ComponentTrack{};
    if (!r.ok) {
        error = r.message;
        return false;
    }
    if (channelIndex >= r.channels.size()) {
        error = "the run has no channel " + std::to_string(channelIndex + 1);
        return false;
    }
    const ChannelFigures& c = r.channels[channelIndex];
    if (!(lineHz > 0 && lineHz <= c.bandHighHz)) {
        error = "a line must lie within the meter's band, up to " + FixedText(c.bandHighHz, 0) + " Hz";
        return false;
    }
    if (!(bucketSeconds > 0 && std::isfinite(bucketSeconds) && c.seconds / bucketSeconds <= kMostBuckets)) {
        error = "the buckets must be longer than a ten-millionth of the file";
        return false;
    }
    const double bin = c.spectrumHz.size() > 1 ? c.spectrumHz[1] - c.spectrumHz[0] : 0;
    double low = 0, high = 0;
    ComponentBand(lineHz, bin, low, high);

    MeterResult one = r;
    one.channels = {c};
    std::vector<float> x;
    double rate = 0, first = 0;
    size_t step = 1, held = 0;
    double sum = 0, from = 0;
    bool started = false;
    const auto start = [&](const ReplayStart& st) {
        step = std::max<size_t>(1, static_cast<size_t>(st.slowRate / std::max(kLeastRate, kPointsPerCycle * lineHz)));
        rate = st.slowRate / static_cast<double>(step);
        x.reserve(static_cast<size_t>(std::min(c.seconds * rate + 16, kMostReserved)));
    };
    // Means of `step` points, each standing for the middle of its points.
    const auto sink = [&](const TrackPoint& p) {
        if (held == 0)
            from = p.seconds;
        sum += p.deviation.front();
        if (++held < step)
            return;
        if (!started) {
            first = from + (p.seconds - from) / 2;
            started = true;
        }
        x.push_back(static_cast<float>(sum / static_cast<double>(held)));
        held = 0;
        sum = 0;
    };
    if (!ReplayDeviation(path, s, one, start, sink, error, progress))
        return false;
    if (x.empty() || !(high < rate / 2)) {
        error = "the deviation track is too short or too slow for a line at " + FixedText(lineHz, 2) + " Hz";
        return false;
    }

    // Forwards, then backwards over the result: the phase cancels. The
    // mean over `step` points lowered the line by the boxcar's gain there.
    // The thinned track is the file's one whole buffer (floats, at most
    // 40 points a cycle of the line): filtered in place.
    Cascade forward = BandPass(low, high, lineHz, rate);
    Cascade backward = forward;
    std::vector<float>& y = x;
    for (float& v : y)
        v = static_cast<float>(forward.Process(v));
    for (size_t k = y.size(); k-- > 0;)
        y[k] = static_cast<float>(backward.Process(y[k]));
    const double slow = rate * static_cast<double>(step);
    const double boxcar = std::sin(std::numbers::pi * lineHz / rate) /
                          (static_cast<double>(step) * std::sin(std::numbers::pi * lineHz / slow));
    const double gain = 1 / boxcar;

    const double dt = 1 / rate;
    const double end = first + static_cast<double>(y.size() - 1) * dt;
    const size_t buckets = static_cast<size_t>(std::floor(std::max(0.0, end) / bucketSeconds)) + 1;
    out.bucketSeconds = bucketSeconds;
    out.lowHz = low;
    out.highHz = high;
    out.min.assign(buckets, std::numeric_limits<float>::quiet_NaN());
    out.max.assign(buckets, std::numeric_limits<float>::quiet_NaN());
    for (size_t k = 0; k < y.size(); ++k) {
        const double t = first + static_cast<double>(k) * dt;
        if (t < 0)
            continue;
        const size_t b = std::min(buckets - 1, static_cast<size_t>(t / bucketSeconds));
        const float v = static_cast<float>(y[k] * gain);
        if (std::isnan(out.min[b]) || v < out.min[b])
            out.min[b] = v;
        if (std::isnan(out.max[b]) || v > out.max[b])
            out.max[b] = v;
    }
    return true;
}

}  // namespace tarvo::meter
