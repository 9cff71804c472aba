#include "framework/VirtualForm.h"

#include "framework/Dialog.h"
#include "framework/Utf8.h"

namespace tarvo {

VirtualForm::VirtualForm(const DialogTemplate& tmpl) : tmpl_(tmpl)
{
    for (const ControlTemplate& c : tmpl_.controls) {
        if (c.id == IDC_STATIC)
            continue;
        Control& ctl = controls_[c.id];
        ctl.text = c.kind == ControlKind::Edit ? std::string() : DisplayCaption(c.caption);
        if (c.kind == ControlKind::Field)
            ctl.text = c.caption;  // a static shows its template text until written
        ctl.visible = !(c.style & CS_HIDDEN);
    }
}

VirtualForm::Control* VirtualForm::Find(int id)
{
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

const VirtualForm::Control* VirtualForm::Find(int id) const
{
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

bool VirtualForm::Has(int id) const { return Find(id) != nullptr; }

std::string VirtualForm::GetDlgItemText(int id) const
{
    const Control* c = Find(id);
    return c ? c->text : std::string();
}

void VirtualForm::SetDlgItemText(int id, const std::string& text)
{
    if (Control* c = Find(id))
        c->text = text;
}

int VirtualForm::GetCheckedRadio(int firstId) const
{
    auto group = tmpl_.RadioGroup(firstId);
    for (size_t i = 0; i < group.size(); ++i) {
        const Control* c = Find(group[i]->id);
        if (c && c->checked)
            return static_cast<int>(i);
    }
    return -1;
}

void VirtualForm::CheckRadio(int firstId, int index)
{
    auto group = tmpl_.RadioGroup(firstId);
    for (size_t i = 0; i < group.size(); ++i)
        if (Control* c = Find(group[i]->id))
            c->checked = static_cast<int>(i) == index;
}

void VirtualForm::Click(int radioId)
{
    // Find the first button of the group the radio belongs to.
    int idx = tmpl_.IndexOf(radioId);
    if (idx < 0)
        return;
    int first = idx;
    while (first > 0 && !(tmpl_.controls[static_cast<size_t>(first)].style & CS_GROUP) &&
           tmpl_.controls[static_cast<size_t>(first) - 1].kind == ControlKind::RadioButton)
        --first;
    int firstId = tmpl_.controls[static_cast<size_t>(first)].id;
    CheckRadio(firstId, idx - first);
}

void VirtualForm::LimitText(int id, int maxChars)
{
    if (Control* c = Find(id)) {
        c->limit = maxChars;
        if (maxChars > 0)
            Utf8Truncate(c->text, static_cast<size_t>(maxChars));
    }
}

int VirtualForm::TextLimit(int id) const
{
    const Control* c = Find(id);
    return c ? c->limit : 0;
}

void VirtualForm::Type(int id, const std::string& text)
{
    Control* c = Find(id);
    if (!c)
        return;
    // A one-line edit keeps what comes before a line break, as it does with
    // pasted text; a line break cannot be typed into it.
    const int idx = tmpl_.IndexOf(id);
    const bool oneLine = idx >= 0 && tmpl_.controls[static_cast<size_t>(idx)].kind == ControlKind::Edit &&
                         !(tmpl_.controls[static_cast<size_t>(idx)].style & CS_MULTILINE);
    c->text = oneLine ? OneLineText(text) : text;
    if (c->limit > 0)
        Utf8Truncate(c->text, static_cast<size_t>(c->limit));
}

void VirtualForm::ShowControl(int id, bool show)
{
    if (Control* c = Find(id))
        c->visible = show;
}

bool VirtualForm::IsControlVisible(int id) const
{
    const Control* c = Find(id);
    return c && c->visible;
}

void VirtualForm::EnableControl(int id, bool enable)
{
    if (Control* c = Find(id))
        c->enabled = enable;
}

bool VirtualForm::IsControlEnabled(int id) const
{
    const Control* c = Find(id);
    return c && c->enabled;
}

void VirtualForm::SetFocus(int id) { focus_ = id; }

int VirtualForm::MessageBox(const std::string& text, const std::string& caption, unsigned type)
{
    if (owner_)
        return owner_->MessageBox(text, caption, type);
    messages_.push_back({text, caption, type});
    if (answers_.empty())
        return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    int a = answers_.front();
    answers_.pop_front();
    return a;
}

int VirtualForm::RunModalDialog(CDialog& dlg)
{
    VirtualForm controls(dlg.Template());
    controls.owner_ = this;
    dialogsRun_.push_back(dlg.Template().id);
    dlg.Begin();
    dlg.Attach(&controls);
    dlg.OnInitDialog();
    if (onDialogOpened)
        onDialogOpened(dlg, controls);
    if (!drivers_.empty()) {
        DialogDriver driver = std::move(drivers_.front());
        drivers_.pop_front();
        if (!dlg.IsEnded())
            driver(dlg, controls);
    }
    if (!dlg.IsEnded())
        dlg.OnCommand(IDCANCEL);
    if (!dlg.IsEnded())
        dlg.OnOwnerClosing();
    dlg.Attach(nullptr);
    return dlg.Result();
}

std::optional<std::string> VirtualForm::GetSaveFileName(const FileDialogRequest& request)
{
    if (owner_)
        return owner_->GetSaveFileName(request);
    fileDialogs_.push_back(request);
    if (fileAnswers_.empty())
        return std::nullopt;
    std::optional<std::string> answer = std::move(fileAnswers_.front());
    fileAnswers_.pop_front();
    return answer;
}

bool VirtualForm::Press(CDialog& dlg, int id)
{
    if (dlg.IsEnded() || !dlg.Host() || !dlg.Host()->IsControlEnabled(id))
        return false;
    return dlg.OnCommand(id);
}

}  // namespace tarvo
