#include "framework/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tarvo {

namespace {

// The exact decimal expansion of |v| (finite, not zero): significant digits
// and the power of ten of the first one.
struct Decimal {
    std::string digits;
    int exponent = 0;
};

Decimal ExactDecimal(double v)
{
    // A double has at most 767 significant decimal digits; asking for more
    // makes the conversion exact, so rounding below sees the true digits.
    char buf[1024];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 780);
    std::string_view s(buf, static_cast<size_t>(r.ptr - buf));
    Decimal d;
    size_t e = s.find('e');
    for (size_t i = 0; i < e; ++i)
        if (s[i] != '.')
            d.digits += s[i];
    d.exponent = std::atoi(std::string(s.substr(e + 1)).c_str());
    while (d.digits.size() > 1 && d.digits.back() == '0')
        d.digits.pop_back();
    return d;
}

// Keeps `keep` digits of d, rounding half up on the first dropped digit.
// keep <= 0 rounds to the digit position just above the first one.
Decimal RoundHalfUp(Decimal d, int keep)
{
    if (keep <= 0) {
        bool up = keep == 0 && d.digits[0] >= '5';
        d.digits = up ? "1" : "";
        if (up)
            ++d.exponent;
        return d;
    }
    bool up = static_cast<size_t>(keep) < d.digits.size() && d.digits[static_cast<size_t>(keep)] >= '5';
    if (static_cast<size_t>(keep) < d.digits.size())
        d.digits.resize(static_cast<size_t>(keep));
    else
        d.digits.append(static_cast<size_t>(keep) - d.digits.size(), '0');
    if (up) {
        int i = keep - 1;
        for (; i >= 0; --i) {
            char& c = d.digits[static_cast<size_t>(i)];
            if (c == '9') {
                c = '0';
            } else {
                ++c;
                break;
            }
        }
        if (i < 0) {  // carried past the first digit
            d.digits.insert(d.digits.begin(), '1');
            d.digits.pop_back();
            ++d.exponent;
        }
    }
    return d;
}

void StripTrailingZeros(std::string& s)
{
    while (!s.empty() && s.back() == '0')
        s.pop_back();
}

}  // namespace

std::string DecimalText(long long value)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string DecimalText(unsigned long long value)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string GcvtText(double value, int digits)
{
    if (!std::isfinite(value))
        return kNotFiniteText;
    if (digits < 1)
        digits = 1;
    std::string sign = value < 0 ? "-" : "";
    Decimal d;
    if (value == 0) {
        sign.clear();
        d.digits.assign(static_cast<size_t>(digits), '0');
        d.exponent = -1;
    } else {
        d = RoundHalfUp(ExactDecimal(value), digits);
    }
    int e = d.exponent;
    if (e < -1 || e > digits - 1) {
        std::string frac = d.digits.substr(1);
        StripTrailingZeros(frac);
        std::string exp = DecimalText(e < 0 ? -e : e);
        while (exp.size() < 3)
            exp.insert(exp.begin(), '0');
        return sign + d.digits.substr(0, 1) + "." + frac + "e" + (e < 0 ? "-" : "+") + exp;
    }
    int after = digits - 1 - e;  // digits after the point
    std::string whole, frac;
    if (e >= 0) {
        whole = d.digits.substr(0, static_cast<size_t>(e) + 1);
        frac = d.digits.substr(static_cast<size_t>(e) + 1);
    } else {  // e == -1: 0.ddd
        whole = "0";
        frac = d.digits;
    }
    if (after == 0)
        return sign + whole;
    StripTrailingZeros(frac);
    return sign + whole + "." + frac;
}

std::string FcvtDigits(double value, int decimals, int* decimalPoint)
{
    int pos = 0;
    std::string out;
    if (!std::isfinite(value)) {
        pos = 0;
    } else if (value == 0) {
        pos = -decimals;
    } else {
        Decimal d = ExactDecimal(value);
        int keep = d.exponent + 1 + decimals;
        if (keep < 0) {
            pos = -decimals;
        } else {
            d = RoundHalfUp(d, keep);
            if (d.digits.empty()) {
                pos = -decimals;
            } else {
                // A carry into a new leading digit keeps every decimal place.
                out = d.digits;
                out.resize(static_cast<size_t>(d.exponent + 1 + decimals), '0');
                pos = d.exponent + 1;
            }
        }
    }
    if (decimalPoint)
        *decimalPoint = pos;
    return out;
}

std::string DoubleFieldText(double value)
{
    if (!std::isfinite(value))
        return kNotFiniteText;
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    return std::string(buf, r.ptr);
}

}  // namespace tarvo
