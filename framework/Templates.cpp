#include "framework/Templates.h"

namespace tarvo {

const ControlTemplate* DialogTemplate::Find(int controlId) const
{
    int i = IndexOf(controlId);
    return i < 0 ? nullptr : &controls[static_cast<size_t>(i)];
}

int DialogTemplate::IndexOf(int controlId) const
{
    if (controlId == IDC_STATIC)
        return -1;
    for (size_t i = 0; i < controls.size(); ++i)
        if (controls[i].id == controlId)
            return static_cast<int>(i);
    return -1;
}

std::vector<const ControlTemplate*> DialogTemplate::RadioGroup(int firstId) const
{
    std::vector<const ControlTemplate*> group;
    int i = IndexOf(firstId);
    if (i < 0)
        return group;
    for (size_t k = static_cast<size_t>(i); k < controls.size(); ++k) {
        const ControlTemplate& c = controls[k];
        if (c.kind != ControlKind::RadioButton)
            break;
        if (k != static_cast<size_t>(i) && (c.style & CS_GROUP))
            break;
        group.push_back(&c);
    }
    return group;
}

std::string DisplayCaption(const std::string& caption)
{
    std::string out;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += caption[i];
    }
    return out;
}

}  // namespace tarvo
