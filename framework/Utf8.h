// Character counts of UTF-8 text: a limit of n characters counts code
// points, not bytes.
#pragma once

#include <string>

namespace tarvo {

inline size_t Utf8Length(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

// Cuts s after its first maxChars characters.
inline void Utf8Truncate(std::string& s, size_t maxChars)
{
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (n == maxChars) {
                s.resize(i);
                return;
            }
            ++n;
        }
    }
}

}  // namespace tarvo
