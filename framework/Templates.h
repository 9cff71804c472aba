// Dialog templates as data: every form and dialog of the program is a table
// of controls in dialog units, like a resource script. Both hosts build from
// the same tables.
#pragma once

#include <string>
#include <vector>

namespace tarvo {

enum class ControlKind {
    GroupBox,
    RadioButton,    // auto radio button
    PushButton,
    DefPushButton,  // default push button
    Label,          // static text
    Edit,
    Field,          // read-only static that shows a member's text
    Icon,
};

// Style flags of a control.
enum : unsigned {
    CS_GROUP = 1u << 0,       // first control of a group
    CS_CENTER = 1u << 1,      // centred text
    CS_SUNKEN = 1u << 2,      // sunken client edge
    CS_DLGFRAME = 1u << 3,    // dialog-frame border
    CS_HIDDEN = 1u << 4,      // created invisible
    CS_AUTOHSCROLL = 1u << 5, // edit scrolls horizontally
    CS_BORDER = 1u << 6,
    CS_TABSTOP = 1u << 7,
    CS_MULTILINE = 1u << 8,
    CS_READONLY = 1u << 9,
    CS_VSCROLL = 1u << 10,
};

// Window styles of a template.
enum : unsigned {
    DS_CHILD = 1u << 0,       // child form laid out as a client area
    DS_THINBORDER = 1u << 1,
    DS_CAPTION = 1u << 2,
    DS_SYSMENU = 1u << 3,
    DS_MODALFRAME = 1u << 4,
    DS_POPUP = 1u << 5,
    DS_SYSMODAL = 1u << 6,
};

inline constexpr int IDC_STATIC = -1;

struct ControlTemplate {
    int id;  // IDC_STATIC for labels and frames no code refers to
    ControlKind kind;
    std::string caption;  // as written in the template ("&&" stands for "&")
    int x, y, cx, cy;     // dialog units
    unsigned style;
};

struct DialogTemplate {
    int id;
    std::string caption;
    int cx, cy;  // dialog units
    std::string fontName;
    int pointSize;
    unsigned style;
    std::vector<ControlTemplate> controls;

    const ControlTemplate* Find(int controlId) const;
    // Index of the control within `controls`, -1 when absent.
    int IndexOf(int controlId) const;
    // The radio buttons of the group that starts at firstId, in order.
    std::vector<const ControlTemplate*> RadioGroup(int firstId) const;
};

// The caption as shown: "&&" becomes "&", a single "&" (mnemonic) is dropped.
std::string DisplayCaption(const std::string& caption);

// Dialog units to pixels for the 8-point sans font at 96 dpi.
inline constexpr double kDluX = 1.5;
inline constexpr double kDluY = 1.625;

}  // namespace tarvo
