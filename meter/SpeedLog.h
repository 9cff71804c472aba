// Speed logs as the meter's input: the text a turntable speed sensor
// exports, a table of time and speed with a header row naming the columns
// ("Time;Speed"), separated by semicolons, commas or tabs, after optional
// "Key:;value" lines. The time's unit is the one its heading names (us, ms
// or s; ms when it names none); the speed is in rpm or Hz (the deviation
// taken from its mean), or a deviation in percent when its heading says %.
//
// A log is read line by line in fixed memory, twice: once to check every
// row and find its length, rate and mean speed, then again to hand its
// deviation on. Nothing grows with the log.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarvo::meter {

inline constexpr size_t kLongestSpeedLog = 256u << 20;      // bytes
inline constexpr size_t kLongestSpeedLogLine = 4096;        // bytes
inline constexpr int64_t kMostSpeedLogRows = 4'000'000;     // more than an hour at 1000 rows a second
inline constexpr int64_t kFewestSpeedLogRows = 8;
inline constexpr size_t kLongestSpeedLogPreamble = 100;     // lines before the header row
// The widest step between two rows, in the log's sample periods: a
// longer one is a gap that interpolation would only make up.
inline constexpr double kWidestSpeedLogStep = 4;
// A speed (rpm or Hz) above this, or a deviation beyond +-kFarthestSpeedLogPercent,
// is no reading of a turning platter; nor is a step of more than that
// share between two rows.
inline constexpr double kHighestSpeedLogSpeed = 1e6;
inline constexpr double kFarthestSpeedLogPercent = 50;

// What the first reading of a log finds.
struct SpeedLogShape {
    int64_t rows = 0;
    double firstSeconds = 0, lastSeconds = 0;
    bool percent = false;   // the log gives the deviation in percent
    double meanSpeed = 0;   // rpm or Hz; 0 for a log of percent deviations
    // The log's sample period: the median step between rows (within a
    // twentieth of an octave, then the mean of the steps there), so that a
    // gap does not pass for a slower rate.
    double period = 0;
    double Seconds() const { return lastSeconds - firstSeconds; }
    double RowsPerSecond() const { return period > 0 ? 1 / period : 0; }
};

class SpeedLogReader {
public:
    SpeedLogReader() = default;
    ~SpeedLogReader();
    SpeedLogReader(const SpeedLogReader&) = delete;
    SpeedLogReader& operator=(const SpeedLogReader&) = delete;

    // A regular file (opened without blocking) of at most kLongestSpeedLog
    // bytes, or text in memory that must outlive the reader.
    bool Open(const std::string& path);
    void OpenText(std::string_view text);

    // The first reading: every row checked. False, with the reason in Error().
    bool Survey();
    const SpeedLogShape& Shape() const { return shape_; }

    // The second reading, after Survey: each row's time (seconds) and
    // deviation (percent of the mean speed, or as the log gives it). A step
    // between rows wider than kWidestSpeedLogStep periods stops it with
    // a reason, as does `take` answering false.
    bool Rows(const std::function<bool(double seconds, double percent)>& take);
    // The deviation at `rate` points a second from the first row's time on,
    // from a cubic B-spline through the rows (flat within 1.5 % up to a
    // quarter of the rows a second).
    bool Resample(double rate, const std::function<bool(double percent)>& take);

    const std::string& Error() const { return error_; }
    // The input was seen to be a speed log (its header row was found) or
    // text that cannot be one as it is stored (UTF-16): Error() then says
    // what is wrong with the log rather than that it is none.
    bool Recognised() const { return recognised_; }

private:
    bool Pass(const std::function<bool(double seconds, double value, size_t line)>& row);
    bool Fail(std::string why);
    int fd_ = -1;
    std::string_view text_;
    SpeedLogShape shape_;
    bool surveyed_ = false, recognised_ = false;
    std::string error_;
};

}  // namespace tarvo::meter
