#include "output/FreqText.h"

#include "framework/NumberText.h"

#include <cstring>

namespace tarvo {

namespace {
constexpr const char* kLineEnd = "\r\n";

std::string TwoDigits(int v)
{
    std::string s = DecimalText(v);
    return s.size() < 2 ? "0" + s : s;
}
}  // namespace

std::string SuggestedTextFileName(const std::string& wavePath)
{
    const size_t dot = wavePath.find('.');
    std::string name = dot == std::string::npos ? std::string() : wavePath.substr(0, dot);
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    return name + ".TXT";
}

std::string DateLineText(const std::tm& local)
{
    int hour12 = local.tm_hour % 12;
    if (hour12 == 0)
        hour12 = 12;
    return DecimalText(local.tm_mon + 1) + "/" + DecimalText(local.tm_mday) + "/" +
           DecimalText(local.tm_year + 1900) + " " + TwoDigits(hour12) + ":" + TwoDigits(local.tm_min) + ":" +
           TwoDigits(local.tm_sec) + (local.tm_hour < 12 ? " AM" : " PM");
}

std::string FreqFileText(const FreqFileContent& c)
{
    std::string text = c.path + c.comment + kLineEnd + c.dateLine + kLineEnd + c.dataSize + kLineEnd +
                       c.sampleRate + kLineEnd + DecimalText(c.chunkSize) + kLineEnd + c.deltaFreq + kLineEnd;
    for (int i = 1; c.freqs && i <= c.chunks; ++i)
        text += GcvtText(static_cast<double>(c.freqs[i]), 8) + kLineEnd;
    return text;
}

std::string ListTimeText(double seconds)
{
    if (seconds < 0.1) {
        int point = 0;
        std::string digits = FcvtDigits(seconds, 5, &point);
        if (digits.size() < 5)
            digits.insert(0, 5 - digits.size(), '0');
        return "0." + digits;
    }
    return GcvtText(seconds, 4);
}

std::string FreqListLine(int chunk, double deltaFreq, float freq)
{
    const double t = chunk / deltaFreq;
    return DecimalText(chunk) + "\t" + ListTimeText(t) + "\t" + GcvtText(static_cast<double>(freq), 7) + kLineEnd;
}

std::string FreqListText(double deltaFreq, const float* freqs, int chunks)
{
    std::string text;
    for (int i = 1; freqs && i <= chunks; ++i)
        text += FreqListLine(i, deltaFreq, freqs[i]);
    return text;
}

std::string SaveDataFailureText(bool creating, const std::string& path, int error)
{
    return SaveDataFailureText(creating, path, std::string(std::strerror(error)));
}

std::string SaveDataFailureText(bool creating, const std::string& path, const std::string& reason)
{
    return std::string(creating ? "Cannot create the file \"" : "Cannot write the file \"") + path + "\": " + reason +
           ".";
}

}  // namespace tarvo
