// The rotating parts of a transport and the rates they flutter at: a
// turntable's platter and motor, a tape deck's capstan, pinch roller, motor
// and reels. A line of the deviation's spectrum is named after the part
// whose rate (or a harmonic of it) it falls on.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvo::meter {

// What the user tells of the machine; 0 stands for "not given".
struct Transport {
    // A turntable.
    double rpm = 0;
    double driveRatio = 0;  // motor turns per platter turn (1: direct drive)
    // A tape deck.
    double tapeSpeedCmS = 0;
    double capstanMm = 0, pinchRollerMm = 0;
    double motorRatio = 0;  // motor turns per capstan turn
    double reelMinMm = 0, reelMaxMm = 0;  // hub and full-pack diameters
    // Either machine's motor.
    int motorPoles = 0, motorSlots = 0;

    bool IsTurntable() const { return rpm > 0; }
    bool IsTape() const { return tapeSpeedCmS > 0; }
    bool Given() const { return IsTurntable() || IsTape(); }
};

// The range of one of a transport's figures: wide enough for every real
// turntable, cassette, open-reel and film transport, and nothing beyond.
// Both ends belong to it.
struct TransportRange {
    const char* what;  // "tape speed"
    double lo, hi;
    const char* unit;  // "cm/s"; empty for a ratio or a count
    bool Holds(double v) const { return v >= lo && v <= hi; }
};

// "0.5 to 800 cm/s"
std::string RangeText(const TransportRange& r);

inline constexpr TransportRange kRpmRange{"platter speed", 1, 100, "rpm"};
inline constexpr TransportRange kDriveRatioRange{"motor's turns per platter turn", 0.5, 500, ""};
inline constexpr TransportRange kTapeSpeedRange{"tape speed", 0.5, 800, "cm/s"};
inline constexpr TransportRange kCapstanRange{"capstan diameter", 0.5, 100, "mm"};
inline constexpr TransportRange kPinchRollerRange{"pinch roller diameter", 1, 100, "mm"};
inline constexpr TransportRange kMotorRatioRange{"motor's turns per capstan turn", 0.1, 100, ""};
inline constexpr TransportRange kReelRange{"reel's diameter", 5, 800, "mm"};  // the hub's and the full pack's
inline constexpr TransportRange kMotorPolesRange{"number of motor poles", 2, 200, ""};  // an even number
inline constexpr TransportRange kMotorSlotsRange{"number of motor slots", 1, 300, ""};

// What is wrong with a transport, in a sentence: a figure given (not 0)
// outside its range, an odd number of poles, a reel whose hub is not
// smaller than its full pack. Empty when nothing is. The meter measures
// with no transport this finds fault with.
std::string TransportFault(const Transport& t);

// One part's rate: hzHigh above hz for a part whose rate is a range (a reel,
// from full pack to hub). `rotating` parts carry their harmonic in a label
// ("platter x1"); a motor's electrical lines name the line itself.
struct PartRate {
    std::string name;
    double hz = 0, hzHigh = 0;
    bool rotating = true;
};

// The rates that follow from a transport, slowest rotating part first among
// the turntable's or the tape deck's parts. Empty when nothing is given.
std::vector<PartRate> PartRates(const Transport& t);

inline constexpr int kHighestHarmonic = 10;

// The part (and harmonic, up to the 10th) a line at hz belongs to when it
// lies within toleranceHz of its rate: the lowest harmonic wins, then a
// single rate over a range, then the nearer. Empty when nothing explains it.
std::optional<std::string> LabelLine(double hz, double toleranceHz, const std::vector<PartRate>& parts);

// The same with how far the line lies from the part's rate times the
// harmonic (Hz, the line less that; 0 within a range's span).
struct LineMatch {
    std::string label;
    double errorHz = 0;
};
std::optional<LineMatch> MatchLine(double hz, double toleranceHz, const std::vector<PartRate>& parts);

// The platter speed whose once-per-revolution rate lies within toleranceHz
// of hz, the nearest of 16 2/3, 22 1/2, 33 1/3, 45 and 78 rpm, as the
// suggestion a line no part explains gets: "0.556 Hz: 33 1/3 rpm?". Empty
// when none does.
std::optional<std::string> SuggestSpeed(double hz, double toleranceHz);

// The rate of one revolution for the polar view: the slowest single-rate
// part; 0 when there is none.
double RevolutionHz(const std::vector<PartRate>& parts);

// One line describing the transport ("turntable 33.333 rpm, motor 7.5:1, 24 poles").
std::string DescribeTransport(const Transport& t);

}  // namespace tarvo::meter
