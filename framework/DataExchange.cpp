#include "framework/DataExchange.h"

#include "framework/NumberText.h"
#include "framework/FormHost.h"
#include "framework/MsgBox.h"
#include "framework/Utf8.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace tarvo {

void CDataExchange::Fail(const std::string& prompt)
{
    m_host.MessageBox(prompt, kAppTitle, MB_OK | MB_ICONEXCLAMATION);
    m_host.SetFocus(m_idLastControl);
    m_bFailed = true;
}

std::string PromptNotANumber() { return "Please enter a number."; }

std::string PromptRange(double minVal, double maxVal)
{
    return "Please enter a number between " + DoubleFieldText(minVal) + " and " + DoubleFieldText(maxVal) + ".";
}

std::string PromptTooLong(int maxChars)
{
    return "Please enter no more than " + DecimalText(maxChars) + " characters.";
}

namespace {

// Whether a decimal that does not fit a double is too small rather than too
// large: the power of ten of its first significant digit is negative.
bool TooSmallForDouble(const char* b, const char* e)
{
    long long lead = 0;  // power of ten of the first significant digit
    bool seen = false, point = false;
    long long place = -1;  // power of ten of the digit being read, after the point
    const char* p = b;
    for (; p != e && (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.'); ++p) {
        if (*p == '.') {
            point = true;
        } else if (!point) {
            if (seen)
                ++lead;  // one more whole digit after the first significant one
            else
                seen = *p != '0';
        } else {
            if (!seen && *p != '0') {
                seen = true;
                lead = place;
            }
            --place;
        }
    }
    if (!seen)
        return true;
    long long exp = 0;
    bool negative = false;
    if (p != e && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p != e && (*p == '+' || *p == '-'))
            negative = *p++ == '-';
        for (; p != e && std::isdigit(static_cast<unsigned char>(*p)); ++p)
            if (exp < 1000000000)
                exp = exp * 10 + (*p - '0');
    }
    return lead + (negative ? -exp : exp) < 0;
}

}  // namespace

bool ParseFieldDouble(const std::string& text, double& out)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    size_t b = 0, e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    if (b == e)
        return false;
    bool negative = false;
    if (text[b] == '+' || text[b] == '-') {
        negative = text[b] == '-';
        ++b;
    }
    if (b == e || !(std::isdigit(static_cast<unsigned char>(text[b])) || text[b] == '.'))
        return false;  // no "inf", "nan" or a second sign
    double v = 0;
    auto r = std::from_chars(text.data() + b, text.data() + e, v, std::chars_format::general);
    if (r.ptr != text.data() + e)
        return false;
    if (r.ec == std::errc::result_out_of_range && TooSmallForDouble(text.data() + b, text.data() + e))
        v = 0;  // a decimal too small for a double reads as 0, as the run-time conversion gives
    else if (r.ec != std::errc() || !std::isfinite(v))
        return false;
    out = negative ? -v : v;
    return true;
}

void DDX_Radio(CDataExchange* pDX, int firstId, int& value)
{
    if (!pDX->Active())
        return;
    pDX->m_idLastControl = firstId;
    if (pDX->m_bSaveAndValidate)
        value = pDX->m_host.GetCheckedRadio(firstId);
    else
        pDX->m_host.CheckRadio(firstId, value);
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value)
{
    if (!pDX->Active())
        return;
    pDX->m_idLastControl = id;
    if (pDX->m_bSaveAndValidate)
        value = pDX->m_host.GetDlgItemText(id);
    else
        pDX->m_host.SetDlgItemText(id, value);
}

void DDX_Text(CDataExchange* pDX, int id, double& value)
{
    if (!pDX->Active())
        return;
    pDX->m_idLastControl = id;
    if (pDX->m_bSaveAndValidate) {
        double v;
        if (!ParseFieldDouble(pDX->m_host.GetDlgItemText(id), v)) {
            pDX->Fail(PromptNotANumber());
            return;
        }
        value = v;
    } else {
        pDX->m_host.SetDlgItemText(id, DoubleFieldText(value));
    }
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int maxChars)
{
    if (!pDX->Active())
        return;
    if (pDX->m_bSaveAndValidate) {
        if (Utf8Length(value) > static_cast<size_t>(maxChars))
            pDX->Fail(PromptTooLong(maxChars));
    } else {
        pDX->m_host.LimitText(pDX->m_idLastControl, maxChars);
    }
}

void DDV_MinMaxDouble(CDataExchange* pDX, double value, double minVal, double maxVal)
{
    if (!pDX->Active() || !pDX->m_bSaveAndValidate)
        return;
    if (value < minVal || value > maxVal)
        pDX->Fail(PromptRange(minVal, maxVal));
}

}  // namespace tarvo
