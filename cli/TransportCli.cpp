#include "cli/TransportCli.h"

#include "cli/CliArgs.h"
#include "meter/Machines.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

double Round(double v, int decimals)
{
    const double k = std::pow(10.0, decimals);
    return std::round(v * k) / k;
}

// A transport option: its figure, what it takes, and its range.
struct Option {
    const char* name;
    double meter::Transport::*field;  // null for a count (poles, slots)
    const char* what;
    const meter::TransportRange& range;
    const char* examples;
};

const Option kOptions[] = {
    {"--rpm", &meter::Transport::rpm, "a platter speed", meter::kRpmRange, " (33.333, 45, 78)"},
    {"--drive-ratio", &meter::Transport::driveRatio, "the motor's turns per platter turn", meter::kDriveRatioRange,
     " (1: direct drive)"},
    {"--tape-speed", &meter::Transport::tapeSpeedCmS, "a tape speed", meter::kTapeSpeedRange,
     " (4.76, 9.53, 19.05, 38.1)"},
    {"--capstan-mm", &meter::Transport::capstanMm, "a capstan diameter", meter::kCapstanRange, ""},
    {"--pinch-roller-mm", &meter::Transport::pinchRollerMm, "a pinch roller diameter", meter::kPinchRollerRange, ""},
    {"--motor-ratio", &meter::Transport::motorRatio, "the motor's turns per capstan turn", meter::kMotorRatioRange,
     ""},
    {"--motor-poles", nullptr, "an even number of poles", meter::kMotorPolesRange, ""},
    {"--motor-slots", nullptr, "a number of slots", meter::kMotorSlotsRange, ""},
};

}  // namespace

int ParseTransportOption(const std::vector<std::string>& args, size_t& i, meter::Transport& t, std::string& why)
{
    const std::string& a = args[i];
    const Option* option = nullptr;
    for (const Option& o : kOptions)
        if (a == o.name)
            option = &o;
    if (!option && a != "--reel-mm")
        return 0;
    std::string v;
    if (!TakeOptionValue(args, i, v)) {
        why = a + " needs a value";
        return -1;
    }
    if (!option) {
        const size_t comma = v.find(',');
        double lo = 0, hi = 0;
        if (comma == std::string::npos || !ParseNumber(v.substr(0, comma), lo) ||
            !ParseNumber(v.substr(comma + 1), hi) || !meter::kReelRange.Holds(lo) || !meter::kReelRange.Holds(hi) ||
            !(lo < hi)) {
            why = "--reel-mm takes the hub and the full-pack diameters, MIN,MAX, from " +
                  meter::RangeText(meter::kReelRange) + " with MIN below MAX, not \"" + v + "\"";
            return -1;
        }
        t.reelMinMm = lo;
        t.reelMaxMm = hi;
        return 1;
    }
    double x = 0;
    const bool count = !option->field;
    const bool even = option->name == std::string("--motor-poles");
    if (!ParseNumber(v, x) || !option->range.Holds(x) || (count && x != std::floor(x)) ||
        (even && std::fmod(x, 2) != 0)) {
        why = a + " takes " + option->what + " from " + meter::RangeText(option->range) + option->examples +
              ", not \"" + v + "\"";
        return -1;
    }
    if (count)
        (even ? t.motorPoles : t.motorSlots) = static_cast<int>(x);
    else
        t.*(option->field) = x;
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

int ParseDeckOption(const std::vector<std::string>& args, size_t& i, DeckRequest& req, std::string& why)
{
    const std::string& a = args[i];
    if (a == "--list-decks") {
        req.list = true;
        return 1;
    }
    if (a != "--deck" && a != "--save-deck" && a != "--deck-description")
        return 0;
    std::string v;
    if (!TakeOptionValue(args, i, v)) {
        why = a + (a == "--deck-description" ? " needs a text" : " needs a profile's name");
        return -1;
    }
    if (a == "--deck-description") {
        v = std::string(v.begin() + static_cast<std::ptrdiff_t>(std::min(v.find_first_not_of(' '), v.size())),
                        v.end());
        while (!v.empty() && v.back() == ' ')
            v.pop_back();
        if (std::string fault = meter::MachineDescriptionFault(v); !fault.empty()) {
            why = "--deck-description: " + fault;
            return -1;
        }
        req.description = v;
        req.descriptionSeen = true;
        return 1;
    }
    if (std::string fault = meter::MachineNameFault(v); !fault.empty()) {
        why = a + ": " + fault;
        return -1;
    }
    (a == "--deck" ? req.deck : req.save) = v;
    (a == "--deck" ? req.deckSeen : req.saveSeen) = true;
    return 1;
}

meter::Transport OverlayTransport(const meter::Transport& profile, const meter::Transport& given)
{
    meter::Transport t = profile;
    for (double meter::Transport::*field :
         {&meter::Transport::rpm, &meter::Transport::driveRatio, &meter::Transport::tapeSpeedCmS,
          &meter::Transport::capstanMm, &meter::Transport::pinchRollerMm, &meter::Transport::motorRatio})
        if (given.*field > 0)
            t.*field = given.*field;
    if (given.reelMaxMm > 0) {
        t.reelMinMm = given.reelMinMm;
        t.reelMaxMm = given.reelMaxMm;
    }
    if (given.motorPoles > 0)
        t.motorPoles = given.motorPoles;
    if (given.motorSlots > 0)
        t.motorSlots = given.motorSlots;
    return t;
}

int ApplyDeck(const std::string& storePath, const std::string& name, meter::Transport& transport, std::string& why,
              std::string* description)
{
    if (storePath.empty()) {
        why = "The machine profiles cannot be found: neither XDG_CONFIG_HOME nor HOME names a folder.";
        return 1;
    }
    std::vector<meter::Machine> machines;
    if (!meter::ReadMachines(storePath, machines, why))
        return 1;
    const meter::Machine* m = meter::FindMachine(machines, name);
    if (!m) {
        why = "--deck: no machine profile is named \"" + name + "\" (--list-decks lists them)";
        return 2;
    }
    transport = OverlayTransport(m->transport, transport);
    if (description)
        *description = m->description;
    return 0;
}

int RunDeckCommand(const std::string& storePath, const DeckRequest& req, const meter::Transport& given, bool json,
                   std::ostream& out, std::ostream& err)
{
    if (storePath.empty()) {
        err << "tarvo-cli: The machine profiles cannot be found: neither XDG_CONFIG_HOME nor HOME names a folder.\n";
        return 1;
    }
    std::string why;
    if (req.saveSeen) {
        const meter::Machine m{req.save, req.description, given};
        bool replaced = false;
        if (!meter::SaveMachine(storePath, m, why, &replaced)) {
            err << "tarvo-cli: " << why << "\n";
            return 1;
        }
        out << (replaced ? "Replaced" : "Saved") << " \"" << m.name << "\": " << meter::TransportLine(m.transport)
            << "\n";
        return 0;
    }
    std::vector<meter::Machine> machines;
    if (!meter::ReadMachines(storePath, machines, why)) {
        err << "tarvo-cli: " << why << "\n";
        return 1;
    }
    if (json) {
        nlohmann::ordered_json doc;
        doc["decks"] = nlohmann::ordered_json::array();
        for (const meter::Machine& m : machines)
            doc["decks"].push_back({{"name", m.name},
                                    {"transport", meter::TransportLine(m.transport)},
                                    {"description", m.description}});
        out << doc.dump() << "\n";
    } else {
        for (const meter::Machine& m : machines)
            out << m.name << "\t" << meter::TransportLine(m.transport) << "\t" << m.description << "\n";
    }
    return 0;
}

nlohmann::ordered_json PartsJson(const std::vector<meter::PartRate>& parts)
{
    nlohmann::ordered_json j = nlohmann::ordered_json::array();
    for (const meter::PartRate& p : parts)
        j.push_back({{"name", p.name}, {"hz", Round(p.hz, 4)}, {"hz_high", Round(p.hzHigh, 4)}});
    return j;
}

}  // namespace tarvo
