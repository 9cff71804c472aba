// Dialog data exchange between a FormHost's controls and a view's members.
// Reading (save-and-validate) goes field by field in the caller's order; the
// first field that does not parse or fails its check shows the framework's
// prompt, takes the focus and stops the exchange: every later DDX/DDV call of
// that exchange does nothing, and the exchange reports failure. A value that
// parsed but failed its range check is already stored in its member.
#pragma once

#include <string>

namespace tarvo {

class FormHost;

class CDataExchange {
public:
    CDataExchange(FormHost& host, bool saveAndValidate) : m_host(host), m_bSaveAndValidate(saveAndValidate) {}

    FormHost& m_host;
    const bool m_bSaveAndValidate;
    bool m_bFailed = false;
    int m_idLastControl = 0;

    // Shows the prompt for the last exchanged control, focuses it, and
    // stops the exchange.
    void Fail(const std::string& prompt);
    bool Active() const { return !m_bFailed; }
};

void DDX_Radio(CDataExchange* pDX, int firstId, int& value);
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
void DDX_Text(CDataExchange* pDX, int id, double& value);
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int maxChars);
void DDV_MinMaxDouble(CDataExchange* pDX, double value, double minVal, double maxVal);

// The framework's prompts.
std::string PromptNotANumber();
std::string PromptRange(double minVal, double maxVal);
std::string PromptTooLong(int maxChars);

// Parses a field's text as a double the way the framework does: blanks
// around one finite decimal number, nothing else. Returns false otherwise.
bool ParseFieldDouble(const std::string& text, double& out);

}  // namespace tarvo
