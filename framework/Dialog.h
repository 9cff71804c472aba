// A modal dialog built from a template. The dialog's controls live in a
// FormHost that the owner's host makes for it while it runs (real widgets in
// the window, a VirtualForm without one); the dialog class only exchanges its
// members with them and handles its buttons.
#pragma once

#include "framework/FormHost.h"
#include "framework/MsgBox.h"

#include <functional>

namespace tarvo {

class CDataExchange;
struct DialogTemplate;

class CDialog {
public:
    explicit CDialog(const DialogTemplate& tmpl) : m_tmpl(tmpl) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog over the owner's window until it ends; returns the
    // value it ended with (IDOK, IDCANCEL).
    int DoModal(FormHost& owner) { return owner.RunModalDialog(*this); }

    const DialogTemplate& Template() const { return m_tmpl; }

    virtual void DoDataExchange(CDataExchange* pDX) { (void)pDX; }
    // After the controls exist: copies the members in. Returns true.
    virtual bool OnInitDialog();
    // The standard OK: reads the controls; ends with IDOK when they pass.
    virtual void OnOK();
    // The standard Cancel (the Cancel button, Esc, the close box).
    virtual void OnCancel();
    // A button of the dialog, by id. OK and Cancel go to OnOK and OnCancel
    // (only while their buttons are enabled); other ids to the dialog's own
    // handler. Returns whether anything handled it.
    bool OnCommand(int id);

    // TRUE reads the controls into the members, FALSE writes them.
    bool UpdateData(bool bSaveAndValidate = true);
    void EndDialog(int result);
    bool IsEnded() const { return m_bEnded; }
    int Result() const { return m_nResult; }

    // The controls while the dialog runs, null before and after.
    FormHost* Host() const { return m_pHost; }

    // --- For the hosts ------------------------------------------------------
    // The host that runs the dialog attaches its controls, runs
    // OnInitDialog, and is told when the dialog ends.
    void Attach(FormHost* host) { m_pHost = host; }
    void Begin() { m_bEnded = false; m_nResult = IDCANCEL; }
    std::function<void(int)> onEnd;
    // The owner goes away while the dialog runs (its window closes, or a
    // windowless run ends): the dialog must end now. Ends with Cancel.
    virtual void OnOwnerClosing() { EndDialog(IDCANCEL); }

protected:
    // The dialog's own buttons; false when the id is not one of them.
    virtual bool OnDialogCommand(int id) { (void)id; return false; }
    // Enables or disables a control of the running dialog.
    void EnableItem(int id, bool enable);

private:
    const DialogTemplate& m_tmpl;
    FormHost* m_pHost = nullptr;
    bool m_bEnded = false;
    int m_nResult = IDCANCEL;
};

}  // namespace tarvo
