// The program's resources as data: templates, menu, accelerators, strings.
#pragma once

#include "framework/Templates.h"

#include <string>
#include <vector>

namespace tarvo {

const DialogTemplate& FormTemplate();      // 101, the analysis form
const DialogTemplate& AboutTemplate();     // 100
const DialogTemplate& RecordTemplate();    // 108
const DialogTemplate& FreqListTemplate();  // 110

// A read-only or input field of the form with the label it carries there.
struct FormField {
    int id;
    std::string label;
};
// The form's fields in the order they stand on the form.
const std::vector<FormField>& FormFields();

struct MenuItem {
    std::string text;  // with "&" mnemonics and "\t" before the shortcut
    int id;            // 0 for a separator
    bool grayed;
};
struct MenuPopup {
    std::string title;
    std::vector<MenuItem> items;
};
const std::vector<MenuPopup>& MainMenu();

struct Accelerator {
    std::string keys;  // portable key text, e.g. "Ctrl+N", "Shift+Ins"
    int id;
};
const std::vector<Accelerator>& Accelerators();

// Substrings of document string 2, in order.
const std::vector<std::string>& DocumentStrings();
inline constexpr int kRecentFileCount = 4;

// The background picture 106: a 4-bit run-length-encoded BMP file.
const std::vector<unsigned char>& BackgroundBitmap();

}  // namespace tarvo
