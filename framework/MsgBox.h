// Message-box types and answers, with the values the form's commands pass.
#pragma once

namespace tarvo {

enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_TYPEMASK = 0xF,
    MB_ICONMASK = 0xF0,
};

enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

// The application title: caption of the framework's own prompts and of
// message boxes that name the application.
inline constexpr const char* kAppTitle = "Quillon";

}  // namespace tarvo
