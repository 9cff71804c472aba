// The three number-to-text rules of the form's fields, the frequency list
// and the frequency file: decimal text of whole numbers, the _gcvt rule with
// d significant digits and the _fcvt rule with n decimals. All three are
// independent of the process locale.
#pragma once

#include <string>

namespace tarvo {

// The one text every rule gives for an infinity or a not-a-number.
inline constexpr const char* kNotFiniteText = "n/a";

std::string DecimalText(long long value);
std::string DecimalText(unsigned long long value);
inline std::string DecimalText(int value) { return DecimalText(static_cast<long long>(value)); }
inline std::string DecimalText(unsigned value) { return DecimalText(static_cast<unsigned long long>(value)); }

// |v| rounded half up to `digits` significant digits, in fixed form unless
// the exponent is below -1 or above digits - 1; trailing zeros after the
// point are dropped, the point stays ("5.", "43.066", "5.e-002").
std::string GcvtText(double value, int digits);

// The digits of |v| rounded half up to `decimals` places, without point,
// sign or leading zeros; *decimalPoint receives the position of the point
// relative to the first digit. No significant digit gives an empty string
// and a position of -decimals. A value that is not finite gives an empty
// string and a position of 0.
std::string FcvtDigits(double value, int decimals, int* decimalPoint);

// The framework's standard double format: shortest general form with up to
// 15 significant digits (8000, 5412.5, 1e+20).
std::string DoubleFieldText(double value);

}  // namespace tarvo
