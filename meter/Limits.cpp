#include "meter/Limits.h"

#include <algorithm>
#include <cmath>

namespace tarvo::meter {

const char* VerdictName(Verdict v) { return v == Verdict::Pass ? "pass" : v == Verdict::Fail ? "fail" : "error"; }

double RoundFigure(double v)
{
    const double k = std::pow(10.0, kFigureDecimals);
    return std::round(v * k) / k;
}

Judgement Judge(const Limits& limits, std::optional<double> weighted, std::optional<double> unweighted,
                std::optional<double> speedError)
{
    Judgement j;
    auto check = [&](std::optional<double> v, const std::optional<double>& limit, const char* name) {
        if (!limit)
            return;
        if (!v || !std::isfinite(*v)) {
            j.failed.push_back(name);
            j.unchecked.push_back(name);
        } else if (*v > *limit) {
            j.failed.push_back(name);
        }
    };
    check(weighted, limits.weighted, "weighted");
    check(unweighted, limits.unweighted, "unweighted");
    if (limits.speed && !(speedError && std::fabs(*speedError) <= *limits.speed))
        j.failed.push_back("speed");
    j.verdict = !j.unchecked.empty() ? Verdict::Error : j.failed.empty() ? Verdict::Pass : Verdict::Fail;
    return j;
}

Judgement Judge(const Limits& limits, const ChannelFigures& c)
{
    std::optional<double> speed;
    if (c.speedErrorPercent)
        speed = RoundFigure(*c.speedErrorPercent);
    return Judge(limits, RoundFigure(c.weighted.twoSigmaPercent), RoundFigure(c.unweighted.twoSigmaPercent), speed);
}

std::string LimitNumber(double v)
{
    std::string t = FixedText(v, 6);
    t.erase(t.find_last_not_of('0') + 1);
    if (!t.empty() && t.back() == '.')
        t.pop_back();
    return t;
}

std::vector<LimitCheck> CheckLimits(const Limits& limits, const ChannelFigures& c)
{
    const Judgement j = Judge(limits, c);
    auto failed = [&](const char* name) { return std::find(j.failed.begin(), j.failed.end(), name) != j.failed.end(); };
    std::vector<LimitCheck> out;
    if (limits.weighted)
        out.push_back({"weighted", FixedText(c.weighted.twoSigmaPercent, 4) + " %",
                       LimitNumber(*limits.weighted) + " %", !failed("weighted")});
    if (limits.unweighted)
        out.push_back({"unweighted", FixedText(c.unweighted.twoSigmaPercent, 4) + " %",
                       LimitNumber(*limits.unweighted) + " %", !failed("unweighted")});
    if (limits.speed)
        out.push_back({"speed", c.speedErrorPercent ? FixedText(*c.speedErrorPercent, 3, true) + " %" : "none",
                       "+-" + LimitNumber(*limits.speed) + " %", !failed("speed")});
    return out;
}

std::string LimitsText(const Limits& limits)
{
    if (!limits.Any())
        return "no limits given";
    std::string t;
    auto add = [&](const std::string& part) { t += (t.empty() ? "" : ", ") + part; };
    if (limits.weighted)
        add("weighted " + LimitNumber(*limits.weighted) + " %");
    if (limits.unweighted)
        add("unweighted " + LimitNumber(*limits.unweighted) + " %");
    if (limits.speed)
        add("speed +-" + LimitNumber(*limits.speed) + " %");
    return t;
}

std::string VerdictText(const Limits& limits, const ChannelFigures& c)
{
    if (!limits.Any())
        return "no limits given";
    std::string failures;
    for (const LimitCheck& k : CheckLimits(limits, c))
        if (!k.pass)
            failures += (failures.empty() ? "" : "; ") + k.name + " " + k.figure + " over " + k.limit;
    return failures.empty() ? "PASS" : "FAIL (" + failures + ")";
}

}  // namespace tarvo::meter
