#include "cli/TransportCli.h"

#include "cli/CliArgs.h"

#include <cmath>

namespace tarvo {

namespace {

double Round(double v, int decimals)
{
    const double k = std::pow(10.0, decimals);
    return std::round(v * k) / k;
}

struct NumberOption {
    const char* name;
    double meter::Transport::*field;
    const char* what;
};

const NumberOption kNumbers[] = {
    {"--rpm", &meter::Transport::rpm, "a platter speed in rpm above 0 (33.333, 45, 78)"},
    {"--drive-ratio", &meter::Transport::driveRatio, "the motor's turns per platter turn, above 0"},
    {"--tape-speed", &meter::Transport::tapeSpeedCmS, "a tape speed in cm/s above 0 (4.76, 9.53, 19.05, 38.1)"},
    {"--capstan-mm", &meter::Transport::capstanMm, "a capstan diameter in mm above 0"},
    {"--pinch-roller-mm", &meter::Transport::pinchRollerMm, "a pinch roller diameter in mm above 0"},
    {"--motor-ratio", &meter::Transport::motorRatio, "the motor's turns per capstan turn, above 0"},
};

}  // namespace

int ParseTransportOption(const std::vector<std::string>& args, size_t& i, meter::Transport& t, std::string& why)
{
    const std::string& a = args[i];
    const NumberOption* number = nullptr;
    for (const NumberOption& o : kNumbers)
        if (a == o.name)
            number = &o;
    if (!number && a != "--motor-poles" && a != "--motor-slots" && a != "--reel-mm")
        return 0;
    std::string v;
    if (!TakeOptionValue(args, i, v)) {
        why = a + " needs a value";
        return -1;
    }
    double x = 0;
    if (number) {
        if (!ParseNumber(v, x) || !(x > 0) || x > 1e6) {
            why = a + " takes " + number->what + ", not \"" + v + "\"";
            return -1;
        }
        t.*(number->field) = x;
    } else if (a == "--reel-mm") {
        const size_t comma = v.find(',');
        double lo = 0, hi = 0;
        if (comma == std::string::npos || !ParseNumber(v.substr(0, comma), lo) ||
            !ParseNumber(v.substr(comma + 1), hi) || !(lo > 0) || !(hi > lo) || hi > 1e4) {
            why = "--reel-mm takes the hub and the full-pack diameters in mm, MIN,MAX, not \"" + v + "\"";
            return -1;
        }
        t.reelMinMm = lo;
        t.reelMaxMm = hi;
    } else {
        const bool poles = a == "--motor-poles";
        if (!ParseNumber(v, x) || x < (poles ? 2 : 1) || x > 1000 || x != std::floor(x) ||
            (poles && std::fmod(x, 2) != 0)) {
            why = a + (poles ? " takes an even number of poles from 2" : " takes a number of slots from 1") +
                  ", not \"" + v + "\"";
            return -1;
        }
        (poles ? t.motorPoles : t.motorSlots) = static_cast<int>(x);
    }
    return 1;
}

std::string CheckTransport(const meter::Transport& t)
{
    const bool tapeParts = t.capstanMm > 0 || t.pinchRollerMm > 0 || t.motorRatio > 0 || t.reelMaxMm > 0;
    if (t.IsTurntable() && (t.IsTape() || tapeParts))
        return "a turntable's options (--rpm, --drive-ratio) and a tape deck's (--tape-speed, --capstan-mm, "
               "--pinch-roller-mm, --motor-ratio, --reel-mm) do not mix";
    if (!t.IsTurntable() && t.driveRatio > 0)
        return "--drive-ratio needs --rpm";
    if (!t.IsTape() && tapeParts)
        return "--capstan-mm, --pinch-roller-mm, --motor-ratio and --reel-mm need --tape-speed";
    if (t.motorRatio > 0 && !(t.capstanMm > 0))
        return "--motor-ratio needs --capstan-mm";
    if ((t.motorPoles > 0 || t.motorSlots > 0) && !(t.driveRatio > 0 || t.motorRatio > 0))
        return "--motor-poles and --motor-slots need the motor's ratio (--drive-ratio or --motor-ratio)";
    return {};
}

nlohmann::ordered_json PartsJson(const std::vector<meter::PartRate>& parts)
{
    nlohmann::ordered_json j = nlohmann::ordered_json::array();
    for (const meter::PartRate& p : parts)
        j.push_back({{"name", p.name}, {"hz", Round(p.hz, 4)}, {"hz_high", Round(p.hzHigh, 4)}});
    return j;
}

}  // namespace tarvo
