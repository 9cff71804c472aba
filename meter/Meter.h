// The standards wow-and-flutter meter: a sound file in, weighted figures
// out. Every figure is a percentage of the channel's mean carrier frequency.
//
// The chain, per channel: the tone's instantaneous frequency (Demodulator),
// its deviation weighted by the standard's curve (peak at 4 Hz) or band
// limited to 0.2..200 Hz (to a quarter of a carrier below 800 Hz), and the
// level its magnitude exceeds 5 % of the time (the two-sigma value). Wow
// (0.2..6 Hz) and flutter (6..200 Hz) are rms values; drift is
// the spread of the 2-second mean frequencies; the modulation list names the
// strongest lines of the deviation's spectrum.
#pragma once

#include "meter/Transport.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::meter {

inline constexpr const char* kStandardName = "IEC 60386 / AES6 / DIN 45507 weighted, two-sigma";
inline constexpr double kLowestCarrier = 50;
inline constexpr double kHighestCarrier = 20000;
inline constexpr int kHighestRate = 768000;
inline constexpr double kShortestSeconds = 2;

struct MeterSettings {
    double carrierHz = 0;       // 0: the strongest tone between 50 and 20000 Hz, for each channel
    std::vector<int> channels;  // 1-based; empty: every channel
    Transport transport;        // the machine's parts, for the lines' labels and the polar view
    double nominalHz = 0;       // the test tape's nominal tone; 0: none (no speed error)
    // A stretch of the file alone, in seconds from its start (a splice or a
    // dropout left out); toSeconds 0: to the end. Sound files only.
    double fromSeconds = 0, toSeconds = 0;
    bool Stretch() const { return fromSeconds > 0 || toSeconds > 0; }
};

struct ModulationLine {
    ModulationLine(double lineHz = 0, double linePercent = 0) : hz(lineHz), percent(linePercent) {}
    double hz = 0;
    double percent = 0;  // peak deviation of that line
    // How far the line's frequency may lie from the true one: three standard
    // deviations of the lobe's centroid at the line's own level over the noise
    // beside it (meter/Lines.h), 0 when not measured.
    double hzUncertainty = 0;
    std::optional<std::string> label;  // the transport's part it falls on ("platter x1")
    std::optional<double> labelErrorHz;  // the line less the part's rate times the harmonic (0 within a range)
    // A once-per-revolution rate of a platter speed the line lies at, for a
    // line no part explains ("0.556 Hz: 33 1/3 rpm?"); nothing is applied.
    // Empty: none.
    std::string suggestion;
    double amPercent = 0;              // the tone's peak amplitude modulation at that rate
    // 0 to 1: how closely the level moves with the speed there; none where
    // the AM is no more than the recording's noise gives (or not measured).
    std::optional<double> amFmCoherence;
};

struct PathFigures {
    double twoSigmaPercent = 0;  // +- peak reading exceeded 5 % of the time
    double rmsPercent = 0;
};

struct ChannelFigures {
    int channel = 0;  // 1-based
    double carrierHz = 0;  // mean frequency of the tone
    double seconds = 0;    // length of the file
    PathFigures weighted, unweighted;
    double wowRmsPercent = 0;
    double flutterRmsPercent = 0;
    double driftPercent = 0;
    std::vector<ModulationLine> modulation;  // strongest first

    // The carrier against the nominal tone, percent; empty without a nominal
    // (or when the carrier lies too far from it to be that tone).
    std::optional<double> speedErrorPercent;
    double bandHighHz = 200;         // top of the flutter and unweighted bands: 200, or a quarter of a low carrier
    // The tone's power against everything else in the recording, and the
    // weighted two-sigma the noise alone would read; none for a speed log,
    // which has no tone.
    std::optional<double> snrDb;
    std::optional<double> noiseFloorPercent;
    // The same for the unweighted two-sigma and the flutter rms.
    std::optional<double> unweightedFloorPercent, flutterFloorPercent;
    // What a reader must know beside the figures (a nominal far from the
    // carrier, a figure mostly noise...), one sentence each.
    std::vector<std::string> warnings;

    // For the plots: the deviation's envelope against time (percent), and
    // its spectrum (peak percent against Hz) from 0 to 200 Hz.
    std::vector<double> envelopeSeconds, envelopeMin, envelopeMax;
    std::vector<double> spectrumHz, spectrumPercent;

    std::vector<PartRate> parts;   // the transport's part rates
    std::string source = "audio";  // or "speed log" (no carrier)
    // For the views (meter/Views.h): the first stretch of the deviation and
    // weighted deviation (percent), one revolution's rate (0: none), and the
    // histogram of the deviation (bin centres in percent, share of the time).
    std::vector<double> trackSeconds, trackDeviation, trackWeighted;
    double revolutionHz = 0;
    std::vector<double> histogramPercent, histogramShare;
    // The whole deviation track, to explore at any zoom: buckets of
    // fineSeconds from the start, each with the deviation's least, greatest
    // and mean and the weighted deviation's mean (percent).
    double fineSeconds = 0;
    std::vector<float> fineMin, fineMax, fineMean, fineWeighted;
};

struct MeterResult {
    bool ok = false;
    bool cancelled = false;
    std::string message;  // why there are no figures
    std::string standard = kStandardName;
    int rate = 0;
    std::string file;  // the measured file's name
    std::vector<ChannelFigures> channels;
    // The stretch measured, seconds from the file's start, when only a
    // stretch was; its figures' times count from the stretch's start.
    std::optional<std::pair<double, double>> stretch;
    // The transport the lines are labelled with, as a line for the title
    // ("Turntable 33 1/3 rpm, belt 7.5:1"; TransportLine in Machines.h).
    std::string transport = {};
};

// Called with the fraction done; answering false cancels the run.
using MeterProgress = std::function<bool(double fraction)>;

// One point of the deviation track for every selected channel, in percent.
struct TrackPoint {
    double seconds;
    std::vector<double> deviation, weighted;
};
using TrackSink = std::function<void(const TrackPoint&)>;

MeterResult RunMeter(const std::string& path, const MeterSettings& settings, const MeterProgress& progress = {});

// The deviation track of a run read again: a second pass over the file
// through the same chain, referred to the mean carriers the run found.
// `start` is told the file's sample rate and the track's rate before the
// first point; `sink` gets every point, one value a channel of the result,
// in percent (the time from the stretch's start, when only a stretch was
// measured). Returns false with a reason when it cannot, "cancelled" when
// `progress` answered false.
struct ReplayStart {
    int rate = 0;         // the file's sample rate
    double slowRate = 0;  // points a second
};
bool ReplayDeviation(const std::string& path, const MeterSettings& settings, const MeterResult& result,
                     const std::function<void(const ReplayStart&)>& start, const TrackSink& sink, std::string& error,
                     const MeterProgress& progress = {});

// Writes the time-stamped deviation track of a run as CSV: the settings and
// the file in '#' lines, then time, deviation and weighted deviation of each
// channel. A second pass over the file, referred to the mean carriers the
// run found. Returns false with a reason when it cannot.
bool WriteMeterCsv(const std::string& path, const MeterSettings& settings, const MeterResult& result,
                   const std::string& csvPath, std::string& error);

// The highest carrier the meter follows at a sample rate: the tone's mirror
// image (at the rate less twice the carrier) and its sidebands must stay in
// the demodulator's stop band.
double HighestCarrier(int rate);

// The speed error of a carrier against a nominal tone, in percent; empty
// without a nominal or when the carrier lies more than 10 % from it.
std::optional<double> SpeedError(double carrierHz, double nominalHz);
inline constexpr double kFarthestNominalPercent = 10;
// Sets a channel's speed error against the nominal tone (none for 0), with a
// warning in place of a figure when the carrier lies too far from it.
void ApplyNominal(ChannelFigures& c, double nominalHz);
// Sets a channel's signal-to-noise ratio and noise floor from the mean
// mixed-down power of the tone, the input's mean square, the share of the
// noise the demodulator's filter passes and the sample rate.
void ApplyToneAndNoise(ChannelFigures& c, double mixedPower, double inputPower, double noiseGain, double rate);
// Sets them from the tone's power over the noise's in the whole recording
// and the noise's one-sided density beside the tone over the tone's power
// (N0 / P, per Hz). Both count down to 70 dB: a cleaner tone reads that.
void ApplyNoise(ChannelFigures& c, double snr, double noiseToTone, double rate);
inline constexpr double kBestSnrDb = 70;
// A tone must stand this far over the noise in the demodulator's own band:
// under it the noise turns the tone's phase by whole turns now and then,
// clicks that no longer follow the noise floor.
inline constexpr double kThresholdSnrDb = 10;
// Whether a channel's weighted figure is mostly noise: the noise floor is
// at least half of it, and not negligible (0.001 %, a twentieth of the best
// transports' figure). Never on a clean tone.
bool MostlyNoise(const ChannelFigures& c);
inline constexpr double kNegligibleFloorPercent = 0.001;

// Every figure of a channel finite and within what a running transport can
// give (see the bounds in Meter.cpp), the plots' points numbers in step:
// empty when they are, else one sentence naming the channel of `name` and
// the first figure that is not. The meter gives no figures for a channel
// that fails, but this message.
std::string CheckFigures(const ChannelFigures& c, const std::string& name);
inline constexpr double kMostPercent = 100;  // no deviation, drift or line reaches it

// A figure as the meter's texts give it, with `decimals` places and, with
// `sign`, a "+" before one over zero. A figure that rounds to zero has no
// sign at all: "-0.0000 %" would call slow a deck that is exact.
std::string FixedText(double v, int decimals, bool sign = false);

// The figures as text, one "label: value" line each, the convention in the label.
std::vector<std::pair<std::string, std::string>> FigureLines(const ChannelFigures& c);

}  // namespace tarvo::meter
