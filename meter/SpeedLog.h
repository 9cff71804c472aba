// Speed logs as the meter's input: the text a turntable speed sensor
// exports, a table of time and speed with a header row naming the columns
// ("Time;Speed"), separated by semicolons, commas or tabs, after optional
// "Key:;value" lines. Time is in milliseconds unless its heading names
// seconds; the speed is in rpm or Hz (the deviation taken from its mean), or
// a deviation in percent when its heading says %.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarvo::meter {

struct SpeedLog {
    std::vector<double> seconds;           // rising
    std::vector<double> deviationPercent;  // from the mean speed, or as the log gives it
};

// Parses the text of a log. False, with the reason, when it is not one.
bool ParseSpeedLog(const std::string& text, SpeedLog& log, std::string& error);

// Reads a regular file of at most kLongestSpeedLog bytes and parses it.
inline constexpr size_t kLongestSpeedLog = 256u << 20;
bool ReadSpeedLog(const std::string& path, SpeedLog& log, std::string& error);

// The log's deviation at `rate` points a second by linear interpolation,
// from its first time on, handed to `take` point by point.
void ResampleSpeedLog(const SpeedLog& log, double rate, const std::function<void(double percent)>& take);

inline constexpr double kLongestSpeedLogSeconds = 48 * 3600.0;

}  // namespace tarvo::meter
