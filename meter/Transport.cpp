#include "meter/Transport.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace tarvo::meter {

namespace {

std::string Number(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

// The motor's own lines, from its rotation rate.
void AddMotor(std::vector<PartRate>& parts, double motorHz, const Transport& t)
{
    parts.push_back({"motor", motorHz, motorHz, true});
    if (t.motorPoles >= 2) {
        const double electrical = t.motorPoles / 2 * motorHz;
        parts.push_back({"motor electrical", electrical, electrical, false});
        parts.push_back({"motor torque ripple", 3 * electrical, 3 * electrical, false});
    }
    if (t.motorSlots > 0)
        parts.push_back({"motor slots", t.motorSlots * motorHz, t.motorSlots * motorHz, false});
}

}  // namespace

std::string RangeText(const TransportRange& r)
{
    std::string s = Number(r.lo) + " to " + Number(r.hi);
    if (*r.unit)
        s += std::string(" ") + r.unit;
    return s;
}

std::string TransportFault(const Transport& t)
{
    struct Figure {
        double value;
        const TransportRange& range;
        const char* what;
    };
    const Figure figures[] = {
        {t.rpm, kRpmRange, kRpmRange.what},
        {t.driveRatio, kDriveRatioRange, kDriveRatioRange.what},
        {t.tapeSpeedCmS, kTapeSpeedRange, kTapeSpeedRange.what},
        {t.capstanMm, kCapstanRange, kCapstanRange.what},
        {t.pinchRollerMm, kPinchRollerRange, kPinchRollerRange.what},
        {t.motorRatio, kMotorRatioRange, kMotorRatioRange.what},
        {t.reelMinMm, kReelRange, "reel's hub diameter"},
        {t.reelMaxMm, kReelRange, "reel's full-pack diameter"},
        {static_cast<double>(t.motorPoles), kMotorPolesRange, kMotorPolesRange.what},
        {static_cast<double>(t.motorSlots), kMotorSlotsRange, kMotorSlotsRange.what},
    };
    for (const Figure& f : figures) {
        if (f.value == 0 || f.range.Holds(f.value))
            continue;
        std::string given = Number(f.value);
        if (*f.range.unit)
            given += std::string(" ") + f.range.unit;
        return std::string("The ") + f.what + " given, " + given + ", lies outside " + RangeText(f.range) + ".";
    }
    if (t.motorPoles % 2 != 0)
        return "A motor has an even number of poles, not " + std::to_string(t.motorPoles) + ".";
    if (t.reelMinMm > 0 && t.reelMaxMm > 0 && !(t.reelMinMm < t.reelMaxMm))
        return "A reel's hub (" + Number(t.reelMinMm) + " mm) is smaller than its full pack (" + Number(t.reelMaxMm) +
               " mm).";
    return {};
}

std::vector<PartRate> PartRates(const Transport& t)
{
    std::vector<PartRate> parts;
    if (t.IsTurntable()) {
        const double platter = t.rpm / 60;
        parts.push_back({"platter", platter, platter, true});
        if (t.driveRatio > 0)
            AddMotor(parts, platter * t.driveRatio, t);
    } else if (t.IsTape()) {
        const double mmPerS = t.tapeSpeedCmS * 10;
        auto rate = [&](double diameterMm) { return mmPerS / (std::numbers::pi * diameterMm); };
        if (t.reelMaxMm > 0 && t.reelMinMm > 0)
            parts.push_back({"reel", rate(t.reelMaxMm), rate(t.reelMinMm), true});
        if (t.pinchRollerMm > 0)
            parts.push_back({"pinch roller", rate(t.pinchRollerMm), rate(t.pinchRollerMm), true});
        if (t.capstanMm > 0) {
            const double capstan = rate(t.capstanMm);
            parts.push_back({"capstan", capstan, capstan, true});
            if (t.motorRatio > 0)
                AddMotor(parts, capstan * t.motorRatio, t);
        }
    }
    return parts;
}

std::optional<std::string> LabelLine(double hz, double toleranceHz, const std::vector<PartRate>& parts)
{
    if (auto m = MatchLine(hz, toleranceHz, parts))
        return m->label;
    return std::nullopt;
}

std::optional<LineMatch> MatchLine(double hz, double toleranceHz, const std::vector<PartRate>& parts)
{
    const PartRate* best = nullptr;
    int bestHarmonic = 0;
    double bestDistance = 0, bestError = 0;
    for (const PartRate& p : parts) {
        for (int n = 1; n <= kHighestHarmonic; ++n) {
            const double lo = n * p.hz, hi = n * p.hzHigh;
            const double error = hz < lo ? hz - lo : hz > hi ? hz - hi : 0;
            const double distance = std::abs(error);
            if (distance > toleranceHz)
                continue;
            const bool range = p.hzHigh > p.hz;
            const bool bestRange = best && best->hzHigh > best->hz;
            const bool better = !best || n < bestHarmonic ||
                                (n == bestHarmonic && ((bestRange && !range) ||
                                                       (range == bestRange && distance < bestDistance)));
            if (better) {
                best = &p;
                bestHarmonic = n;
                bestDistance = distance;
                bestError = error;
            }
            break;  // a higher harmonic of the same part explains no better
        }
    }
    if (!best)
        return std::nullopt;
    if (!best->rotating && bestHarmonic == 1)
        return LineMatch{best->name, bestError};
    return LineMatch{best->name + " x" + std::to_string(bestHarmonic), bestError};
}

std::optional<std::string> SuggestSpeed(double hz, double toleranceHz)
{
    struct Speed {
        double rpm;
        const char* name;
    };
    static constexpr Speed kSpeeds[] = {
        {50.0 / 3, "16 2/3 rpm"}, {22.5, "22 1/2 rpm"}, {100.0 / 3, "33 1/3 rpm"}, {45, "45 rpm"}, {78, "78 rpm"}};
    const Speed* nearest = nullptr;
    double distance = 0;
    for (const Speed& s : kSpeeds) {
        const double d = std::abs(hz - s.rpm / 60);
        if (d <= toleranceHz && (!nearest || d < distance)) {
            nearest = &s;
            distance = d;
        }
    }
    if (!nearest)
        return std::nullopt;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f Hz: %s?", hz, nearest->name);
    return std::string(buf);
}

double RevolutionHz(const std::vector<PartRate>& parts)
{
    double slowest = 0;
    for (const PartRate& p : parts)
        if (p.rotating && p.hzHigh == p.hz && (slowest == 0 || p.hz < slowest))
            slowest = p.hz;
    return slowest;
}

std::string DescribeTransport(const Transport& t)
{
    std::string s;
    auto add = [&s](const std::string& part) { s += (s.empty() ? "" : ", ") + part; };
    if (t.IsTurntable()) {
        add("turntable " + Number(t.rpm) + " rpm");
        if (t.driveRatio == 1)
            add("direct drive");
        else if (t.driveRatio > 0)
            add("motor " + Number(t.driveRatio) + " turns per platter turn");
    } else if (t.IsTape()) {
        add("tape " + Number(t.tapeSpeedCmS) + " cm/s");
        if (t.capstanMm > 0)
            add("capstan " + Number(t.capstanMm) + " mm");
        if (t.pinchRollerMm > 0)
            add("pinch roller " + Number(t.pinchRollerMm) + " mm");
        if (t.motorRatio > 0)
            add("motor " + Number(t.motorRatio) + " turns per capstan turn");
        if (t.reelMinMm > 0 && t.reelMaxMm > 0)
            add("reels " + Number(t.reelMinMm) + " to " + Number(t.reelMaxMm) + " mm");
    } else {
        return "not given";
    }
    if (t.motorPoles > 0)
        add(std::to_string(t.motorPoles) + " poles");
    if (t.motorSlots > 0)
        add(std::to_string(t.motorSlots) + " slots");
    return s;
}

}  // namespace tarvo::meter
