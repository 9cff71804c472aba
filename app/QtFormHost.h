// The form on real widgets: a QWidget that builds a dialog template's
// controls at their dialog-unit rectangles and paints the client-area
// Surface underneath them. The view talks to it only as a FormHost.
#pragma once

#include "display/Surface.h"
#include "framework/FileDialog.h"
#include "framework/FormHost.h"
#include "framework/Templates.h"

#include <QWidget>

#include <functional>
#include <map>
#include <set>
#include <string>

class QButtonGroup;

namespace tarvo {

class CTarvoView;

class QtFormHost : public QWidget, public FormHost {
    Q_OBJECT

public:
    explicit QtFormHost(const DialogTemplate& tmpl, QWidget* parent = nullptr);
    ~QtFormHost() override;

    // --- FormHost ---------------------------------------------------------
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
    // A modal QDialog carrying a QtFormHost of the dialog's template, owned
    // by this form's window.
    int RunModalDialog(CDialog& dlg) override;
    // A QFileDialog owned by this form's window, or the hook when one is set.
    std::optional<std::string> GetSaveFileName(const FileDialogRequest& request) override;
    // Paints the fields written and the part of the surface drawn since the
    // last call before returning; takes no input.
    void UpdateWindow() override;

    // --- Commands ---------------------------------------------------------
    // A push button's click goes to the handler with the button's id; it
    // answers whether anything handled it.
    using CommandHandler = std::function<bool(int id)>;
    void SetCommandHandler(CommandHandler handler) { onCommand_ = std::move(handler); }
    // Routes the buttons to the view's message map.
    void SetView(CTarvoView* view);

    // Schedules a paint of whatever changed on the surface, for the next
    // pass of the event loop. Called after every command.
    void InvalidateDirty();

    // --- Message boxes ----------------------------------------------------
    // Replaces the modal message box, e.g. by one that records and answers.
    using MessageBoxHook = std::function<int(const std::string& text, const std::string& caption, unsigned type)>;
    void SetMessageBoxHook(MessageBoxHook hook) { messageBoxHook_ = std::move(hook); }
    // Replaces the file dialog, e.g. by one that answers with a set path.
    using SaveFileHook = std::function<std::optional<std::string>(const FileDialogRequest& request)>;
    void SetSaveFileHook(SaveFileHook hook) { saveFileHook_ = std::move(hook); }

    // --- Access -----------------------------------------------------------
    QWidget* Control(int id) const;
    const DialogTemplate& Template() const { return tmpl_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Dispatch(int id);
    QButtonGroup* RadioGroupOf(int firstId) const;

    const DialogTemplate& tmpl_;
    Surface surface_;
    std::map<int, QWidget*> controls_;
    std::map<int, QButtonGroup*> radioGroups_;  // by the id of the first button
    std::set<int> changed_;                     // controls written since UpdateWindow
    std::map<int, std::string> fieldTexts_;     // the text last written to each read-only field
    CommandHandler onCommand_;
    MessageBoxHook messageBoxHook_;
    SaveFileHook saveFileHook_;
};

}  // namespace tarvo
