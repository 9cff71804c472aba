// What the view needs of the window that carries its form: the controls by
// id, message boxes, the client-area raster. The desktop program implements
// it with real widgets, tarvo-cli and the tests with a VirtualForm.
#pragma once

#include <optional>
#include <string>

namespace tarvo {

class CDialog;
class Surface;
struct FileDialogRequest;

class FormHost {
public:
    virtual ~FormHost() = default;

    // Text of a control (edit, field, label or button) by id.
    virtual std::string GetDlgItemText(int id) const = 0;
    virtual void SetDlgItemText(int id, const std::string& text) = 0;

    // Index of the checked button of the radio group that starts at firstId,
    // -1 when none is checked; CheckRadio with -1 unchecks them all.
    virtual int GetCheckedRadio(int firstId) const = 0;
    virtual void CheckRadio(int firstId, int index) = 0;

    // Length limit of an edit, in characters.
    virtual void LimitText(int id, int maxChars) = 0;

    virtual void ShowControl(int id, bool show) = 0;
    virtual bool IsControlVisible(int id) const = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    virtual bool IsControlEnabled(int id) const = 0;
    virtual void SetFocus(int id) = 0;

    // A modal message box owned by the form; returns the button pressed.
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned type) = 0;

    // Runs a dialog modally over this window: makes its controls, attaches
    // them, runs its OnInitDialog and returns the value it ends with.
    virtual int RunModalDialog(CDialog& dlg) = 0;

    // A save dialog owned by the form: the path chosen, nothing on Cancel.
    virtual std::optional<std::string> GetSaveFileName(const FileDialogRequest& request)
    {
        (void)request;
        return std::nullopt;
    }

    // The client area.
    virtual Surface& ClientSurface() = 0;

    // Makes what was written to the controls and the surface visible now,
    // without taking any input (a command calls it while it runs).
    virtual void UpdateWindow() {}
};

}  // namespace tarvo
