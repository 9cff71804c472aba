#include "meter/SpeedLog.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarvo::meter {

namespace {

constexpr size_t kFewestRows = 8;

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s)
{
    const size_t a = s.find_first_not_of(" \t\r\"");
    if (a == std::string::npos)
        return {};
    const size_t b = s.find_last_not_of(" \t\r\"");
    return s.substr(a, b - a + 1);
}

std::vector<std::string> Split(const std::string& line, char sep)
{
    std::vector<std::string> f;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, sep))
        f.push_back(Trim(cell));
    if (!line.empty() && line.back() == sep)
        f.emplace_back();
    return f;
}

// A number, with a decimal comma accepted where the comma does not separate.
bool Number(std::string s, char sep, double& v)
{
    if (sep != ',')
        std::replace(s.begin(), s.end(), ',', '.');
    if (s.empty())
        return false;
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end && *end == '\0' && std::isfinite(v);
}

// The separator a header row uses: the first of ';', tab and ',' that gives
// it two named columns or more.
char SeparatorOf(const std::string& line)
{
    for (char sep : {';', '\t', ','}) {
        const std::vector<std::string> f = Split(line, sep);
        if (f.size() >= 2 && !f[0].empty() && !f[1].empty())
            return sep;
    }
    return 0;
}

bool NamesSeconds(const std::string& heading)
{
    const std::string h = Lower(heading);
    if (h.find("ms") != std::string::npos || h.find("milli") != std::string::npos)
        return false;
    return h.find("(s)") != std::string::npos || h.find("[s]") != std::string::npos ||
           h.find("sec") != std::string::npos || h == "s" || (h.size() > 2 && h.ends_with(" s"));
}

bool AllNumbers(const std::vector<std::string>& f, char sep)
{
    double v = 0;
    return std::all_of(f.begin(), f.end(), [&](const std::string& s) { return s.empty() || Number(s, sep, v); }) &&
           f.size() >= 2 && Number(f[0], sep, v);
}

}  // namespace

bool ParseSpeedLog(const std::string& text, SpeedLog& log, std::string& error)
{
    log = {};
    std::vector<std::string> lines;
    {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line);
    }
    // The header row: the first row of named columns that numbers follow.
    size_t header = lines.size();
    char sep = 0;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        sep = SeparatorOf(lines[i]);
        if (!sep)
            continue;
        const std::vector<std::string> f = Split(lines[i], sep);
        if (Trim(f[0]).ends_with(":"))  // a "Key:;value" line
            continue;
        if (!AllNumbers(f, sep) && AllNumbers(Split(lines[i + 1], sep), sep)) {
            header = i;
            break;
        }
    }
    if (header == lines.size()) {
        error = "it has no table of time and speed under a header row";
        return false;
    }
    const std::vector<std::string> names = Split(lines[header], sep);
    size_t timeCol = 0, speedCol = 1;
    for (size_t c = 0; c < names.size(); ++c) {
        const std::string n = Lower(names[c]);
        if (n.find("time") != std::string::npos || n == "t" || n.starts_with("t "))
            timeCol = c;
        else if (n.find("speed") != std::string::npos || n.find("rpm") != std::string::npos ||
                 n.find('%') != std::string::npos || n.find("dev") != std::string::npos ||
                 n.find("hz") != std::string::npos)
            speedCol = c;
    }
    if (timeCol == speedCol)
        speedCol = timeCol == 0 ? 1 : 0;
    const double timeScale = NamesSeconds(names[timeCol]) ? 1.0 : 0.001;
    const bool percent = speedCol < names.size() && names[speedCol].find('%') != std::string::npos;

    std::vector<double> speed;
    for (size_t i = header + 1; i < lines.size(); ++i) {
        if (Trim(lines[i]).empty())
            continue;
        const std::vector<std::string> f = Split(lines[i], sep);
        double t = 0, s = 0;
        if (f.size() <= std::max(timeCol, speedCol) || !Number(f[timeCol], sep, t) || !Number(f[speedCol], sep, s)) {
            error = "line " + std::to_string(i + 1) + " is not a time and a speed";
            return false;
        }
        t *= timeScale;
        if (!log.seconds.empty() && !(t > log.seconds.back())) {
            error = "its times do not rise at line " + std::to_string(i + 1);
            return false;
        }
        log.seconds.push_back(t);
        speed.push_back(s);
    }
    if (log.seconds.back() - log.seconds.front() > kLongestSpeedLogSeconds) {
        error = "it spans more than 48 hours";
        return false;
    }
    if (speed.size() < kFewestRows) {
        error = "its table has fewer than " + std::to_string(kFewestRows) + " rows";
        return false;
    }
    if (percent) {
        log.deviationPercent = std::move(speed);
        return true;
    }
    double mean = 0;
    for (double s : speed)
        mean += s;
    mean /= static_cast<double>(speed.size());
    if (!(mean > 0)) {
        error = "its mean speed is not above zero";
        return false;
    }
    for (double s : speed)
        log.deviationPercent.push_back((s / mean - 1) * 100);
    return true;
}

bool ReadSpeedLog(const std::string& path, SpeedLog& log, std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "it is not a regular file";
        return false;
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kLongestSpeedLog) {
        error = ec ? ec.message() : "it is longer than a speed log can be";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text;
    text.resize(static_cast<size_t>(size));
    if (!in.read(text.data(), static_cast<std::streamsize>(size))) {
        error = "it cannot be read";
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        error = "it is not text";
        return false;
    }
    return ParseSpeedLog(text, log, error);
}

void ResampleSpeedLog(const SpeedLog& log, double rate, const std::function<void(double percent)>& take)
{
    if (log.seconds.size() < 2)
        return;
    const double t0 = log.seconds.front(), span = log.seconds.back() - t0;
    const auto n = static_cast<size_t>(std::floor(span * rate)) + 1;
    size_t j = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = t0 + static_cast<double>(i) / rate;
        while (j + 2 < log.seconds.size() && log.seconds[j + 1] < t)
            ++j;
        const double a = log.seconds[j], b = log.seconds[j + 1];
        const double f = std::clamp((t - a) / (b - a), 0.0, 1.0);
        take(log.deviationPercent[j] + f * (log.deviationPercent[j + 1] - log.deviationPercent[j]));
    }
}

}  // namespace tarvo::meter
