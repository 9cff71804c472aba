#include "meter/SpeedLog.h"

#include "framework/InputFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvo::meter {

namespace {

constexpr size_t kBlock = 65536;

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view s)
{
    const size_t a = s.find_first_not_of(" \t\r\"");
    if (a == std::string_view::npos)
        return {};
    const size_t b = s.find_last_not_of(" \t\r\"");
    return s.substr(a, b - a + 1);
}

void Split(std::string_view line, char sep, std::vector<std::string_view>& f)
{
    f.clear();
    size_t from = 0;
    for (;;) {
        const size_t at = line.find(sep, from);
        f.push_back(Trim(line.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from)));
        if (at == std::string_view::npos)
            break;
        from = at + 1;
    }
}

// A plain decimal number (no "inf", "nan" or hexadecimal), with a decimal
// comma accepted where the comma does not separate.
bool Number(std::string_view s, char sep, double& v)
{
    char buf[64];
    if (s.empty() || s.size() >= sizeof buf)
        return false;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == ',' && sep != ',')
            c = '.';
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return false;
        buf[i] = c;
    }
    buf[s.size()] = '\0';
    char* end = nullptr;
    v = std::strtod(buf, &end);
    return end == buf + s.size() && std::isfinite(v);
}

bool AllNumbers(const std::vector<std::string_view>& f, char sep)
{
    double v = 0;
    return f.size() >= 2 && Number(f[0], sep, v) &&
           std::all_of(f.begin(), f.end(), [&](std::string_view s) { return s.empty() || Number(s, sep, v); });
}

// The separator a header row uses: the first of ';', tab and ',' that gives
// it two named columns or more.
char SeparatorOf(std::string_view line, std::vector<std::string_view>& f)
{
    for (char sep : {';', '\t', ','}) {
        Split(line, sep, f);
        if (f.size() >= 2 && !f[0].empty() && !f[1].empty())
            return sep;
    }
    return 0;
}

// The unit a heading names: in brackets ("Time [ms]", "t (s)"), else its
// last word ("Time ms", "time_us"), else the heading itself when it is not
// a column's name ("ms"); empty when it names none.
std::string UnitOf(std::string_view heading)
{
    const std::string h = Lower(heading);
    const size_t open = h.find_first_of("[(");
    if (open != std::string::npos) {
        const size_t close = h.find_first_of("])", open + 1);
        return std::string(Trim(std::string_view(h).substr(open + 1, close == std::string::npos ? std::string::npos
                                                                                                 : close - open - 1)));
    }
    const size_t last = h.find_last_of(" _-/");
    const std::string word = last == std::string::npos ? h : h.substr(last + 1);
    return word == "time" || word == "t" ? std::string() : word;
}

// Seconds per unit of a time column; 0 when its heading names a unit that is
// none of us, ms and s.
double TimeScale(std::string_view heading)
{
    const std::string u = UnitOf(heading);
    if (u.empty() || u == "ms" || u == "msec" || u == "msecs" || u == "millisecond" || u == "milliseconds")
        return 1e-3;
    if (u == "s" || u == "sec" || u == "secs" || u == "second" || u == "seconds")
        return 1;
    if (u == "us" || u == "usec" || u == "usecs" || u == "\xC2\xB5s" || u == "\xCE\xBCs" || u == "microsecond" ||
        u == "microseconds")
        return 1e-6;
    return 0;
}

std::string Line(size_t n) { return "line " + std::to_string(n); }

std::string Figure(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

}  // namespace

SpeedLogReader::~SpeedLogReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool SpeedLogReader::Fail(std::string why)
{
    error_ = std::move(why);
    return false;
}

bool SpeedLogReader::Open(const std::string& path)
{
    if (fd_ >= 0)
        ::close(fd_);
    text_ = {};
    surveyed_ = recognised_ = false;
    fd_ = OpenInputFile(path, InputKind::Regular);
    if (fd_ < 0)
        return Fail("it is not a regular file");
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return Fail(std::strerror(errno));
    if (static_cast<uint64_t>(st.st_size) > kLongestSpeedLog)
        return Fail("it is longer than a speed log can be (" + std::to_string(kLongestSpeedLog >> 20) + " MiB)");
    return true;
}

void SpeedLogReader::OpenText(std::string_view text)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    text_ = text;
    surveyed_ = recognised_ = false;
}

// One reading of the whole log, line by line: `row` gets each row's time in
// seconds, its speed or deviation as written, and its line number.
bool SpeedLogReader::Pass(const std::function<bool(double seconds, double value, size_t line)>& row)
{
    std::vector<char> block(fd_ >= 0 ? kBlock : 0);
    uint64_t offset = 0;
    // The next bytes: from the file, or the text in memory. Empty at the end.
    auto next = [&](std::string_view& got) {
        if (fd_ < 0) {
            got = offset < text_.size() ? text_.substr(offset, kBlock) : std::string_view();
            offset += got.size();
            return true;
        }
        ssize_t n;
        do
            n = ::pread(fd_, block.data(), block.size(), static_cast<off_t>(offset));
        while (n < 0 && errno == EINTR);
        if (n < 0)
            return Fail(std::strerror(errno));
        offset += static_cast<uint64_t>(n);
        got = std::string_view(block.data(), static_cast<size_t>(n));
        return true;
    };

    std::string line, previous;
    line.reserve(kLongestSpeedLogLine);
    previous.reserve(kLongestSpeedLogLine);
    std::vector<std::string_view> f;
    size_t number = 0;
    bool header = false, previousNamed = false;
    char sep = 0, previousSep = 0;
    size_t columns = 0, timeCol = 0, speedCol = 1;
    double timeScale = 1e-3;
    double lastTime = 0, lastValue = 0;
    int64_t rows = 0;

    // The columns of the header row `names`.
    auto takeHeader = [&](std::string_view names) {
        Split(names, sep, f);
        columns = f.size();
        timeCol = 0;
        speedCol = 1;
        for (size_t c = 0; c < f.size(); ++c) {
            const std::string n = Lower(f[c]);
            if (n.find("time") != std::string::npos || n == "t" || n.starts_with("t ") || n.starts_with("t["))
                timeCol = c;
            else if (n.find("speed") != std::string::npos || n.find("rpm") != std::string::npos ||
                     n.find('%') != std::string::npos || n.find("dev") != std::string::npos ||
                     n.find("hz") != std::string::npos)
                speedCol = c;
        }
        // Time named in the second column, the speed in none: the first.
        if (timeCol == speedCol)
            speedCol = 0;
        timeScale = TimeScale(f[timeCol]);
        if (timeScale == 0)
            return Fail("the unit its time column names (\"" + std::string(f[timeCol]) + "\") is none of us, ms and s");
        shape_.percent = f[speedCol].find('%') != std::string_view::npos;
        return true;
    };

    auto data = [&](std::string_view text) {
        if (Trim(text).empty())
            return true;
        Split(text, sep, f);
        if (sep == ',' && f.size() > columns)
            return Fail(Line(number) + " has more cells than its header row: a decimal comma in a table whose "
                                       "cells commas separate? Save the log with decimal points or another separator");
        double t = 0, v = 0;
        if (f.size() <= std::max(timeCol, speedCol) || !Number(f[timeCol], sep, t) || !Number(f[speedCol], sep, v))
            return Fail(Line(number) + " is not a time and a speed");
        t *= timeScale;
        if (rows > 0 && !(t > lastTime))
            return Fail("its times do not rise at " + Line(number));
        if (shape_.percent) {
            if (!(std::abs(v) <= kFarthestSpeedLogPercent))
                return Fail(Line(number) + " gives a deviation of " + Figure(v) + " %, which no turning platter has");
        } else {
            if (!(v > 0 && v <= kHighestSpeedLogSpeed))
                return Fail(Line(number) + " gives a speed of " + Figure(v) + ", which no turning platter has");
            if (rows > 0 && std::abs(v - lastValue) > kFarthestSpeedLogPercent / 100 * lastValue)
                return Fail("the speed jumps from " + Figure(lastValue) + " to " + Figure(v) + " at " + Line(number) +
                            ", which no turning platter does");
        }
        if (++rows > kMostSpeedLogRows)
            return Fail("it has more than " + std::to_string(kMostSpeedLogRows) + " rows");
        lastTime = t;
        lastValue = v;
        return row(t, v, number);
    };

    auto take = [&](std::string_view text) {
        ++number;
        if (header)
            return data(text);
        if (previousNamed) {
            std::vector<std::string_view> g;
            Split(text, previousSep, g);
            if (AllNumbers(g, previousSep)) {
                header = recognised_ = true;
                sep = previousSep;
                return takeHeader(previous) && data(text);
            }
        }
        if (number > kLongestSpeedLogPreamble)
            return Fail("it has no table of time and speed under a header row");
        previousSep = SeparatorOf(text, f);
        previousNamed = previousSep && !f[0].ends_with(":") && !AllNumbers(f, previousSep);
        previous.assign(text);
        return true;
    };

    bool first = true;
    for (;;) {
        std::string_view got;
        if (!next(got))
            return false;
        if (got.empty())
            break;
        if (first) {
            first = false;
            // UTF-16: a byte-order mark, or the first character's zero byte.
            if (got.starts_with("\xFF\xFE") || got.starts_with("\xFE\xFF") ||
                (got.size() >= 2 && (got[0] == '\0') != (got[1] == '\0'))) {
                recognised_ = true;
                return Fail("it is UTF-16 text; save the log as UTF-8 or ASCII");
            }
            if (got.starts_with("\xEF\xBB\xBF"))
                got.remove_prefix(3);
        }
        if (got.find('\0') != std::string_view::npos)
            return Fail("it is not text");
        while (!got.empty()) {
            const size_t end = got.find('\n');
            const std::string_view piece = got.substr(0, end);
            if (line.size() + piece.size() > kLongestSpeedLogLine)
                return Fail(Line(number + 1) + " is longer than " + std::to_string(kLongestSpeedLogLine) +
                            " bytes, which no line of a speed log is");
            line.append(piece);
            if (end == std::string_view::npos)
                break;
            if (!take(line))
                return false;
            line.clear();
            got.remove_prefix(end + 1);
        }
    }
    if (!line.empty() && !take(line))
        return false;
    if (!header)
        return Fail("it has no table of time and speed under a header row");
    return true;
}

bool SpeedLogReader::Survey()
{
    shape_ = {};
    surveyed_ = false;
    double sum = 0;
    // The steps between rows by twentieths of an octave, from 2^-30 s up:
    // how many, and their sum.
    constexpr int kLowestOctave = -30, kPerOctave = 20, kBins = 60 * kPerOctave;
    std::vector<int64_t> steps(kBins, 0);
    std::vector<double> stepSums(kBins, 0.0);
    const bool read = Pass([&](double t, double v, size_t) {
        if (shape_.rows == 0) {
            shape_.firstSeconds = t;
        } else {
            const double step = t - shape_.lastSeconds;
            const auto bin = static_cast<size_t>(
                std::clamp(std::floor((std::log2(step) - kLowestOctave) * kPerOctave), 0.0, kBins - 1.0));
            ++steps[bin];
            stepSums[bin] += step;
        }
        shape_.lastSeconds = t;
        ++shape_.rows;
        sum += v;
        return true;
    });
    if (!read)
        return false;
    if (shape_.rows < kFewestSpeedLogRows)
        return Fail("its table has fewer than " + std::to_string(kFewestSpeedLogRows) + " rows");
    shape_.meanSpeed = shape_.percent ? 0 : sum / static_cast<double>(shape_.rows);
    int64_t below = 0;
    for (size_t bin = 0; bin < steps.size(); ++bin) {
        below += steps[bin];
        if (2 * below >= shape_.rows - 1) {
            shape_.period = stepSums[bin] / static_cast<double>(steps[bin]);
            break;
        }
    }
    surveyed_ = true;
    return true;
}

bool SpeedLogReader::Rows(const std::function<bool(double seconds, double percent)>& take)
{
    if (!surveyed_ && !Survey())
        return false;
    const double period = shape_.period;
    const SpeedLogShape shape = shape_;
    int64_t count = 0;
    double last = 0;
    bool stopped = false;
    const bool read = Pass([&](double t, double v, size_t line) {
        if (count > 0 && t - last > kWidestSpeedLogStep * period)
            return Fail("it has a gap of " + Figure(t - last) + " s before " + Line(line) + ", where its rows come every " +
                        Figure(period) + " s: the meter makes up no part of a log");
        last = t;
        ++count;
        const double percent = shape.percent ? v : (v / shape.meanSpeed - 1) * 100;
        if (!take(t, percent)) {
            stopped = true;
            return false;
        }
        return true;
    });
    shape_ = shape;
    if (stopped)
        return false;
    if (!read)
        return false;
    if (count != shape.rows || last != shape.lastSeconds)
        return Fail("it changed while it was read");
    return true;
}

// The rows as the samples of a cubic B-spline through them: its
// coefficients are the rows through the spline's inverse filter,
// sqrt(3) z^|m| with z = sqrt(3) - 2, ended at kSplineReach rows either
// side (z^24 is 2e-14) and mirrored at the log's ends. A deviation at f
// reads sinc^4(f/R) 3 / (2 + cos(2 pi f/R)) of itself, R being the rows a
// second: within 1.5 % up to R/4, where linear interpolation's sinc^2
// loses 19 %. Between two rows the spline's position follows the time.
bool SpeedLogReader::Resample(double rate, const std::function<bool(double percent)>& take)
{
    constexpr int64_t kSplineReach = 24;
    std::array<double, kSplineReach + 1> taps{};
    for (int64_t m = 0; m <= kSplineReach; ++m)
        taps[static_cast<size_t>(m)] = std::sqrt(3.0) * std::pow(std::sqrt(3.0) - 2, static_cast<double>(m));
    const int64_t n = shape_.rows;
    std::deque<std::pair<double, double>> held;  // rows `first` on: time, deviation
    int64_t first = 0, received = 0, next = 0;   // next: the interval between rows next and next + 1
    int64_t point = 0;
    double start = 0;
    std::array<double, 4> c{};
    auto value = [&](int64_t k) {
        while (k < 0 || k > n - 1)
            k = k < 0 ? -k : 2 * (n - 1) - k;
        return held.at(static_cast<size_t>(k - first)).second;
    };
    auto coefficient = [&](int64_t k) {
        double c = taps[0] * value(k);
        for (int64_t m = 1; m <= kSplineReach; ++m)
            c += taps[static_cast<size_t>(m)] * (value(k - m) + value(k + m));
        return c;
    };
    // The points between rows `next` and `next + 1` (the last row's time too
    // for the last interval).
    auto interval = [&]() {
        const double t0 = held.at(static_cast<size_t>(next - first)).first;
        const double t1 = held.at(static_cast<size_t>(next + 1 - first)).first;
        // The coefficients next - 1 to next + 2, three of them kept from the interval before.
        if (next == 0) {
            c = {coefficient(-1), coefficient(0), coefficient(1), coefficient(2)};
        } else {
            c = {c[1], c[2], c[3], coefficient(next + 2)};
        }
        const bool last = next + 2 == n;
        for (double t; (t = start + static_cast<double>(point) / rate) < t1 || (last && t <= t1); ++point) {
            const double u = std::clamp((t - t0) / (t1 - t0), 0.0, 1.0), v = 1 - u;
            const double y = c[0] * v * v * v / 6 + c[1] * (2.0 / 3 - u * u + u * u * u / 2) +
                             c[2] * (2.0 / 3 - v * v + v * v * v / 2) + c[3] * u * u * u / 6;
            if (!take(y))
                return false;
        }
        ++next;
        // Rows that no coefficient still to come reaches.
        while (first < next - kSplineReach - 4) {
            held.pop_front();
            ++first;
        }
        return true;
    };
    const bool read = Rows([&](double t, double percent) {
        if (received++ == 0)
            start = t;
        held.emplace_back(t, percent);
        while (next + 2 + kSplineReach < received)
            if (!interval())
                return false;
        return true;
    });
    if (!read)
        return false;
    while (next + 1 < n)
        if (!interval())
            return false;
    return true;
}

}  // namespace tarvo::meter
