#include "meter/Machines.h"

#include "framework/InputFile.h"
#include "framework/SafeOutput.h"
#include "framework/Utf8.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarvo::meter {

namespace {

constexpr size_t kLongestLine = 1024;

std::string Number(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

// A figure as the store keeps it: the fewest digits that read back the same.
std::string StoredNumber(double v)
{
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool ParseFigure(std::string_view s, double& v)
{
    if (s.empty())
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && end == s.data() + s.size() && std::isfinite(v);
}

// One line of text with no control character, UTF-8 throughout.
std::string LineFault(std::string_view s, const char* what, size_t longest)
{
    if (s.size() > longest)
        return std::string("A ") + what + " is at most " + std::to_string(longest) + " bytes long.";
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return std::string("A ") + what + " is one line with no control character.";
    if (!IsUtf8(std::string(s)))
        return std::string("A ") + what + " is UTF-8 text.";
    return {};
}

// A figure the store keeps: its key, the member, and its range.
struct Key {
    const char* name;
    double Transport::*field;  // null for a count (poles, slots)
    const TransportRange& range;
    bool tape, turntable;
};
const Key kKeys[] = {
    {"rpm", &Transport::rpm, kRpmRange, false, true},
    {"drive-ratio", &Transport::driveRatio, kDriveRatioRange, false, true},
    {"tape-speed", &Transport::tapeSpeedCmS, kTapeSpeedRange, true, false},
    {"capstan-mm", &Transport::capstanMm, kCapstanRange, true, false},
    {"pinch-roller-mm", &Transport::pinchRollerMm, kPinchRollerRange, true, false},
    {"motor-ratio", &Transport::motorRatio, kMotorRatioRange, true, false},
    {"motor-poles", nullptr, kMotorPolesRange, false, false},
    {"motor-slots", nullptr, kMotorSlotsRange, false, false},
};
constexpr const char* kReelKey = "reel-mm";
constexpr const char* kDescriptionKey = "description";
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

// Whether a transport holds together: a turntable's figures and a tape
// deck's do not mix, and a part needs the speed it turns with.
std::string ShapeFault(const Transport& t)
{
    const bool tapeParts = t.capstanMm > 0 || t.pinchRollerMm > 0 || t.motorRatio > 0 || t.reelMaxMm > 0;
    if (t.IsTurntable() && (t.IsTape() || tapeParts))
        return "A turntable's figures and a tape deck's do not mix.";
    if (!t.IsTurntable() && t.driveRatio > 0)
        return "drive-ratio needs rpm.";
    if (!t.IsTape() && tapeParts)
        return "capstan-mm, pinch-roller-mm, motor-ratio and reel-mm need tape-speed.";
    if (t.motorRatio > 0 && !(t.capstanMm > 0))
        return "motor-ratio needs capstan-mm.";
    if ((t.motorPoles > 0 || t.motorSlots > 0) && !(t.driveRatio > 0 || t.motorRatio > 0))
        return "motor-poles and motor-slots need drive-ratio or motor-ratio.";
    return TransportFault(t);
}

// The section being read, and which of its keys have been given.
struct Section {
    Machine machine;
    size_t line = 0;
    bool seen[kKeyCount + 2] = {};  // the figures, then reel-mm and description
};

std::string Finish(const Section& s)
{
    const std::string fault = ShapeFault(s.machine.transport);
    return fault.empty() ? fault : "the profile \"" + s.machine.name + "\": " + fault;
}

// One "key = value" line into the section; empty when taken.
std::string TakeKey(Section& s, std::string_view key, std::string_view value)
{
    Transport& t = s.machine.transport;
    if (key == kDescriptionKey) {
        if (s.seen[kKeyCount + 1])
            return "description is given twice";
        s.seen[kKeyCount + 1] = true;
        const std::string fault = MachineDescriptionFault(value);
        if (!fault.empty())
            return fault;
        s.machine.description = std::string(value);
        return {};
    }
    if (key == kReelKey) {
        if (s.seen[kKeyCount])
            return "reel-mm is given twice";
        s.seen[kKeyCount] = true;
        const size_t comma = value.find(',');
        double lo = 0, hi = 0;
        if (comma == std::string_view::npos || !ParseFigure(Trim(value.substr(0, comma)), lo) ||
            !ParseFigure(Trim(value.substr(comma + 1)), hi) || !kReelRange.Holds(lo) || !kReelRange.Holds(hi) ||
            !(lo < hi))
            return "reel-mm takes MIN,MAX from " + RangeText(kReelRange) + " with MIN below MAX";
        t.reelMinMm = lo;
        t.reelMaxMm = hi;
        return {};
    }
    for (size_t k = 0; k < kKeyCount; ++k) {
        const Key& key1 = kKeys[k];
        if (key != key1.name)
            continue;
        if (s.seen[k])
            return std::string(key1.name) + " is given twice";
        s.seen[k] = true;
        double v = 0;
        const bool count = !key1.field;
        const bool even = k == 6;
        if (!ParseFigure(value, v) || !key1.range.Holds(v) || (count && v != std::floor(v)) ||
            (even && std::fmod(v, 2) != 0))
            return std::string(key1.name) + " takes a figure from " + RangeText(key1.range) +
                   (even ? ", an even number" : count ? ", a whole number" : "");
        if (count)
            (even ? t.motorPoles : t.motorSlots) = static_cast<int>(v);
        else
            t.*(key1.field) = v;
        return {};
    }
    return "\"" + std::string(key.substr(0, 40)) + "\" is not a key of a profile";
}

std::string LineNumbered(size_t line, const std::string& what)
{
    return "line " + std::to_string(line) + ": " + what;
}

// The rpm as a record's label gives it: 33 1/3, 16 2/3, 22 1/2.
std::string Rpm(double rpm)
{
    const double whole = std::floor(rpm);
    const struct {
        double fraction;
        const char* text;
    } fractions[] = {{1.0 / 3, " 1/3"}, {2.0 / 3, " 2/3"}, {0.5, " 1/2"}};
    for (const auto& f : fractions)
        if (whole >= 1 && std::abs(rpm - whole - f.fraction) < 0.002)
            return Number(whole) + f.text;
    return Number(rpm);
}

std::string Ratio(double r) { return Number(r) + ":1"; }

}  // namespace

std::string MachineNameFault(std::string_view name)
{
    if (name.empty())
        return "A profile needs a name.";
    std::string fault = LineFault(name, "profile's name", kLongestMachineName);
    if (!fault.empty())
        return fault;
    if (Trim(name).size() != name.size())
        return "A profile's name has no space at its start or end.";
    if (name.find_first_of("[]=#") != std::string_view::npos)
        return "A profile's name has none of '[', ']', '=' and '#'.";
    return {};
}

std::string MachineDescriptionFault(std::string_view description)
{
    return LineFault(description, "profile's description", kLongestMachineDescription);
}

std::string MachinesPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/tarvo/decks";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config/tarvo/decks";
    return {};
}

namespace {

bool ParseInto(std::string_view text, std::vector<Machine>& machines, std::string& why)
{
    if (text.size() > kLargestMachineFile) {
        why = "it is larger than " + std::to_string(kLargestMachineFile / 1024) + " KiB";
        return false;
    }
    Section section;
    bool inSection = false;
    auto close = [&]() {
        if (!inSection)
            return true;
        why = Finish(section);
        if (!why.empty()) {
            why = LineNumbered(section.line, why);
            return false;
        }
        machines.push_back(std::move(section.machine));
        section = Section();
        return true;
    };
    size_t lineNumber = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.size() > kLongestLine) {
            why = LineNumbered(lineNumber, "a line is at most " + std::to_string(kLongestLine) + " bytes long");
            return false;
        }
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = Trim(line);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']') {
                why = LineNumbered(lineNumber, "a profile's name ends with ']'");
                return false;
            }
            if (!close())
                return false;
            const std::string_view name = line.substr(1, line.size() - 2);
            std::string fault = MachineNameFault(name);
            if (fault.empty() && FindMachine(machines, name))
                fault = "the profile \"" + std::string(name) + "\" is given twice";
            if (fault.empty() && machines.size() >= kMostMachines)
                fault = "a store holds at most " + std::to_string(kMostMachines) + " profiles";
            if (!fault.empty()) {
                if (fault.back() == '.')
                    fault.pop_back();
                why = LineNumbered(lineNumber, fault);
                return false;
            }
            inSection = true;
            section.machine.name = std::string(name);
            section.line = lineNumber;
            continue;
        }
        const size_t eq = line.find('=');
        std::string fault;
        if (eq == std::string_view::npos)
            fault = "a line is a [name], key = value, or a # comment";
        else if (!inSection)
            fault = "a key before any [name]";
        else
            fault = TakeKey(section, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
        if (!fault.empty()) {
            if (fault.back() == '.')
                fault.pop_back();
            why = LineNumbered(lineNumber, fault);
            return false;
        }
    }
    return close();
}

}  // namespace

bool ParseMachines(std::string_view text, std::vector<Machine>& machines, std::string& why)
{
    machines.clear();
    if (ParseInto(text, machines, why))
        return true;
    machines.clear();  // all or nothing
    return false;
}

bool ReadMachines(const std::string& path, std::vector<Machine>& machines, std::string& why)
{
    machines.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT)
        return true;  // no profile stored yet
    std::string reason;
    const int fd = OpenInputFile(path, InputKind::Regular, &reason);
    if (fd < 0) {
        why = "The machine profiles \"" + path + "\" cannot be read: " + reason + ".";
        return false;
    }
    std::string text;
    bool large = false;
    const bool read = ReadPieces(
        fd,
        [&](std::string_view piece) {
            if (text.size() + piece.size() > kLargestMachineFile) {
                large = true;
                return false;
            }
            text.append(piece);
            return true;
        },
        reason);
    ::close(fd);
    if (large)
        reason = "it is larger than " + std::to_string(kLargestMachineFile / 1024) + " KiB";
    if (read && ParseMachines(text, machines, reason))
        return true;
    machines.clear();
    why = "The machine profiles \"" + path + "\" cannot be read: " + reason + ".";
    return false;
}

std::string FormatMachines(const std::vector<Machine>& machines)
{
    std::string s = "# Tarvo machine profiles: tarvo-cli --save-deck, --list-decks, --deck NAME\n";
    for (const Machine& m : machines) {
        const Transport& t = m.transport;
        s += "\n[" + m.name + "]\n";
        if (!m.description.empty())
            s += std::string(kDescriptionKey) + " = " + m.description + "\n";
        for (size_t k = 0; k < kKeyCount; ++k) {
            const Key& key = kKeys[k];
            const double v = key.field ? t.*(key.field) : k == 6 ? t.motorPoles : t.motorSlots;
            if (v > 0)
                s += std::string(key.name) + " = " + StoredNumber(v) + "\n";
        }
        if (t.reelMinMm > 0 && t.reelMaxMm > 0)
            s += std::string(kReelKey) + " = " + StoredNumber(t.reelMinMm) + "," + StoredNumber(t.reelMaxMm) + "\n";
    }
    return s;
}

bool WriteMachines(const std::string& path, const std::vector<Machine>& machines, std::string& why)
{
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string folder = path.substr(0, slash);
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0) {
            // The folder and the one above it (the configuration folder)
            // when they are missing; nothing further up.
            const size_t up = folder.rfind('/');
            if (up != std::string::npos && up > 0)
                (void)::mkdir(folder.substr(0, up).c_str(), 0700);
            (void)::mkdir(folder.c_str(), 0700);
        }
    }
    const std::string text = FormatMachines(machines);
    if (text.size() > kLargestMachineFile) {
        why = "The machine profiles \"" + path + "\" were not written: they would be larger than " +
              std::to_string(kLargestMachineFile / 1024) + " KiB, more than can be read back.";
        return false;
    }
    std::string reason;
    if (!WriteFileSafely(path, text, {}, &reason)) {
        why = "The machine profiles \"" + path + "\" were not written: " + reason + ".";
        return false;
    }
    return true;
}

bool SaveMachine(const std::string& path, const Machine& m, std::string& why, bool* replaced)
{
    std::vector<Machine> machines;
    if (!ReadMachines(path, machines, why))
        return false;
    std::string fault = MachineNameFault(m.name);
    if (fault.empty())
        fault = MachineDescriptionFault(m.description);
    if (fault.empty())
        fault = ShapeFault(m.transport);
    bool found = false;
    for (Machine& old : machines)
        if (old.name == m.name) {
            old = m;
            found = true;
        }
    if (fault.empty() && !found && machines.size() >= kMostMachines)
        fault = "The store holds at most " + std::to_string(kMostMachines) + " profiles.";
    if (!fault.empty()) {
        why = fault;
        return false;
    }
    if (!found)
        machines.push_back(m);
    if (replaced)
        *replaced = found;
    return WriteMachines(path, machines, why);
}

bool DeleteMachine(const std::string& path, const std::string& name, std::string& why)
{
    std::vector<Machine> machines;
    if (!ReadMachines(path, machines, why))
        return false;
    const size_t before = machines.size();
    std::erase_if(machines, [&](const Machine& m) { return m.name == name; });
    return machines.size() == before || WriteMachines(path, machines, why);
}

const Machine* FindMachine(const std::vector<Machine>& machines, std::string_view name)
{
    for (const Machine& m : machines)
        if (m.name == name)
            return &m;
    return nullptr;
}

std::string TransportLine(const Transport& t)
{
    std::string s;
    auto add = [&s](const std::string& part) { s += (s.empty() ? "" : ", ") + part; };
    if (t.IsTurntable()) {
        add("Turntable " + Rpm(t.rpm) + " rpm");
        if (t.driveRatio == 1)
            add("direct drive");
        else if (t.driveRatio > 0)
            add("belt " + Ratio(t.driveRatio));
    } else if (t.IsTape()) {
        add("Tape " + Number(t.tapeSpeedCmS) + " cm/s");
        if (t.capstanMm > 0)
            add("capstan " + Number(t.capstanMm) + " mm");
        if (t.pinchRollerMm > 0)
            add("pinch roller " + Number(t.pinchRollerMm) + " mm");
        if (t.motorRatio > 0)
            add("motor " + Ratio(t.motorRatio));
        if (t.reelMinMm > 0 && t.reelMaxMm > 0)
            add("reels " + Number(t.reelMinMm) + " to " + Number(t.reelMaxMm) + " mm");
    } else {
        return "No transport given";
    }
    std::string motor;
    if (t.motorPoles > 0)
        motor = std::to_string(t.motorPoles) + "-pole";
    if (t.motorSlots > 0)
        motor += (motor.empty() ? "" : " ") + std::to_string(t.motorSlots) + "-slot";
    if (!motor.empty())
        add(motor + " motor");
    return s;
}

}  // namespace tarvo::meter
