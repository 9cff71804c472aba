// A FormHost without a window: control state in memory, built from a
// template. Tests and tarvo-cli type into controls, press buttons and read
// fields; message boxes are recorded and answered.
#pragma once

#include "display/Surface.h"
#include "framework/FileDialog.h"
#include "framework/FormHost.h"
#include "framework/MsgBox.h"
#include "framework/Templates.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarvo {

struct RecordedMessage {
    std::string text;
    std::string caption;
    unsigned type;
};

class VirtualForm : public FormHost {
public:
    explicit VirtualForm(const DialogTemplate& tmpl);

    std::string GetDlgItemText(int id) const override;
    void SetDlgItemText(int id, const std::string& text) override;
    int GetCheckedRadio(int firstId) const override;
    void CheckRadio(int firstId, int index) override;
    void LimitText(int id, int maxChars) override;
    void ShowControl(int id, bool show) override;
    bool IsControlVisible(int id) const override;
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) const override;
    void SetFocus(int id) override;
    int MessageBox(const std::string& text, const std::string& caption, unsigned type) override;
    Surface& ClientSurface() override { return surface_; }
    // Makes the dialog's controls as a VirtualForm of its template, runs
    // its OnInitDialog, then the next queued driver. A dialog the driver
    // leaves running gets Esc, and then its owner closes.
    int RunModalDialog(CDialog& dlg) override;

    // As a user would: typing replaces an edit's text, cut to its limit.
    void Type(int id, const std::string& text);
    // Clicks a radio button by its own id.
    void Click(int radioId);
    int Focus() const { return focus_; }
    int TextLimit(int id) const;
    bool Has(int id) const;

    const std::vector<RecordedMessage>& Messages() const { return messages_; }
    void ClearMessages() { messages_.clear(); }
    // Answers for the next message boxes, in order; IDOK once they run out.
    void QueueAnswer(int answer) { answers_.push_back(answer); }

    const DialogTemplate& Template() const { return tmpl_; }

    // What a user does in the next modal dialog, in order of the dialogs:
    // types into its controls (the VirtualForm given) and presses its
    // buttons with Press. A dialog with no driver left is only dismissed.
    using DialogDriver = std::function<void(CDialog& dlg, VirtualForm& controls)>;
    void QueueDialogDriver(DialogDriver driver) { drivers_.push_back(std::move(driver)); }
    // Presses a button of a running dialog as a user would: a disabled
    // button does nothing. Returns whether the press reached a handler.
    static bool Press(CDialog& dlg, int id);
    // The templates of the dialogs run so far, in order.
    const std::vector<int>& DialogsRun() const { return dialogsRun_; }
    // Told of every dialog once its OnInitDialog has filled its controls;
    // unlike a driver it takes no turn.
    std::function<void(const CDialog& dlg, const VirtualForm& controls)> onDialogOpened;

    // Save dialogs: each takes the next queued answer (a path, or nullopt
    // for Cancel); with none left the dialog is cancelled.
    std::optional<std::string> GetSaveFileName(const FileDialogRequest& request) override;
    void QueueSaveFileAnswer(std::optional<std::string> path) { fileAnswers_.push_back(std::move(path)); }
    const std::vector<FileDialogRequest>& FileDialogsRun() const { return fileDialogs_; }

private:
    struct Control {
        std::string text;
        bool checked = false;
        bool visible = true;
        bool enabled = true;
        int limit = 0;  // 0: none
    };
    Control* Find(int id);
    const Control* Find(int id) const;

    const DialogTemplate& tmpl_;
    std::map<int, Control> controls_;
    std::vector<RecordedMessage> messages_;
    std::deque<int> answers_;
    Surface surface_;
    int focus_ = 0;
    FormHost* owner_ = nullptr;  // a dialog's controls report through their owner
    std::deque<DialogDriver> drivers_;
    std::vector<int> dialogsRun_;
    std::deque<std::optional<std::string>> fileAnswers_;
    std::vector<FileDialogRequest> fileDialogs_;
};

}  // namespace tarvo
