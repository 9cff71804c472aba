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

// The rate of one revolution for the polar view: the slowest single-rate
// part; 0 when there is none.
double RevolutionHz(const std::vector<PartRate>& parts);

// One line describing the transport ("turntable 33.333 rpm, motor 7.5:1, 24 poles").
std::string DescribeTransport(const Transport& t);

}  // namespace tarvo::meter
