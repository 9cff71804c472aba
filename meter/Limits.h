// Limits on a channel's figures and the verdict they give: the weighted and
// unweighted two-sigma figures and the speed error's size, each in percent.
// One rule for tarvo-cli's --limit-* options, the dialog and the reports.
#pragma once

#include "meter/Meter.h"

#include <optional>
#include <string>
#include <vector>

namespace tarvo::meter {

struct Limits {
    std::optional<double> weighted, unweighted, speed;  // percent
    bool Any() const { return weighted || unweighted || speed; }
};

enum class Verdict { Pass, Fail, Error };
const char* VerdictName(Verdict v);  // "pass", "fail", "error"

struct Judgement {
    Verdict verdict = Verdict::Pass;
    std::vector<std::string> failed;     // "weighted", "unweighted", "speed", in that order
    std::vector<std::string> unchecked;  // those whose figure is missing or not a number
};

// The figures as the outputs give them (six decimals; none where there is
// none). A figure equal to its limit passes; a missing figure fails its
// limit and makes the verdict an error, except the speed error: a carrier
// too far from the nominal to give one fails a speed limit.
Judgement Judge(const Limits& limits, std::optional<double> weighted, std::optional<double> unweighted,
                std::optional<double> speedError);
Judgement Judge(const Limits& limits, const ChannelFigures& c);

// One limited figure of a channel, as the texts give it.
struct LimitCheck {
    std::string name;    // "weighted", "unweighted", "speed"
    std::string figure;  // "0.0616 %", "-0.210 %", "none"
    std::string limit;   // "0.05 %", "+-0.5 %"
    bool pass = false;
};
std::vector<LimitCheck> CheckLimits(const Limits& limits, const ChannelFigures& c);
// A limit as short as it is exact: "0.05", "0.5".
std::string LimitNumber(double v);
// "weighted 0.05 %, speed +-0.5 %", or "no limits given".
std::string LimitsText(const Limits& limits);
// "PASS", or "FAIL (weighted 0.0616 % over 0.05 %; speed -0.210 % over +-0.5 %)";
// "no limits given" without limits.
std::string VerdictText(const Limits& limits, const ChannelFigures& c);

// The decimals the outputs give a figure with.
inline constexpr int kFigureDecimals = 6;
double RoundFigure(double v);

}  // namespace tarvo::meter
