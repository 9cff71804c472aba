// The texts of the frequency data output, as pure functions: the file name
// SaveData suggests, the date line, the frequency text file and the
// frequency list.
#pragma once

#include <ctime>
#include <string>

namespace tarvo {

// The name the save dialog suggests for the track of wavePath: the path cut
// before its first "." (none: nothing is left), then only what follows the
// last "/", then ".TXT". "/w/MY.DIR/TONE1.WAV" suggests "MY.TXT".
std::string SuggestedTextFileName(const std::string& wavePath);

// The date and time of writing: month/day/year, a blank, then the hour of
// the 12-hour clock, minutes and seconds and AM or PM ("7/4/2002 03:07:09
// PM"), whatever the process locale.
std::string DateLineText(const std::tm& local);

// What the frequency text file holds.
struct FreqFileContent {
    std::string path;  // the file's own path, line 1
    std::string comment;
    std::string dateLine;
    std::string dataSize, sampleRate;
    unsigned chunkSize = 0;
    std::string deltaFreq;
    const float* freqs = nullptr;  // 1-based: freqs[1..chunks]
    int chunks = 0;                // 0: the six header lines only
};

// The file's text: its lines in order, each ending in CR LF.
std::string FreqFileText(const FreqFileContent& content);

// The time column of the list for the end of a chunk: "0.%05s" of its
// digits at five decimals below 0.1 s, four significant digits from there.
std::string ListTimeText(double seconds);
// One row: number, TAB, time (chunk / deltaFreq), TAB, frequency, CR LF.
std::string FreqListLine(int chunk, double deltaFreq, float freq);
// The rows of chunks 1..chunks of freqs (1-based).
std::string FreqListText(double deltaFreq, const float* freqs, int chunks);

// The one message of a frequency file that cannot be created or written:
// the path and the system's reason for the error number.
std::string SaveDataFailureText(bool creating, const std::string& path, int error);
// The same with the reason in words (no full stop at its end).
std::string SaveDataFailureText(bool creating, const std::string& path, const std::string& reason);

}  // namespace tarvo
