// Character counts of UTF-8 text: a limit of n characters counts the
// characters of well-formed UTF-8, and every byte that is not part of one
// counts as a character of its own.
#pragma once

#include <string>

namespace tarvo {

// The length in bytes of the character that starts at s[i]: 2 to 4 for a
// well-formed sequence (no overlong form, no surrogate, nothing past
// U+10FFFF), 1 for an ASCII byte and for any byte that starts no such
// sequence.
inline size_t Utf8CharLength(const std::string& s, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
    if (c < 0xC2 || c > 0xF4)
        return 1;  // ASCII, a continuation byte, an overlong lead or past U+10FFFF
    if (c < 0xE0) {
        len = 2;
    } else if (c < 0xF0) {
        len = 3;
        if (c == 0xE0)
            lo = 0xA0;  // overlong below U+0800
        else if (c == 0xED)
            hi = 0x9F;  // surrogates
    } else {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;  // overlong below U+10000
        else if (c == 0xF4)
            hi = 0x8F;  // past U+10FFFF
    }
    if (i + len > s.size())
        return 1;
    if (byte(i + 1) < lo || byte(i + 1) > hi)
        return 1;
    for (size_t k = 2; k < len; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 1;
    return len;
}

// Whether s is well-formed UTF-8 throughout.
inline bool IsUtf8(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        const size_t n = Utf8CharLength(s, i);
        if (n == 1 && static_cast<unsigned char>(s[i]) >= 0x80)
            return false;
        i += n;
    }
    return true;
}

inline size_t Utf8Length(const std::string& s)
{
    size_t n = 0;
    for (size_t i = 0; i < s.size(); i += Utf8CharLength(s, i))
        ++n;
    return n;
}

// Cuts s after its first maxChars characters.
inline void Utf8Truncate(std::string& s, size_t maxChars)
{
    size_t n = 0;
    for (size_t i = 0; i < s.size(); i += Utf8CharLength(s, i)) {
        if (n == maxChars) {
            s.resize(i);
            return;
        }
        ++n;
    }
}

// The text a one-line edit keeps of what is put into it: everything before
// the first line break (CR or LF).
inline std::string OneLineText(const std::string& s)
{
    return s.substr(0, s.find_first_of("\r\n"));
}

}  // namespace tarvo
