// The record dialog (template 108): Record and Stop drive the recorder
// through its command strings; OK hands the file name to the view.
#pragma once

#include "framework/Dialog.h"
#include "sound/Mci.h"

#include <string>

namespace tarvo {

class CRecordDialog : public CDialog {
public:
    explicit CRecordDialog(MciDevice& mci);
    ~CRecordDialog() override;

    // The name the recording is saved under; "temp.wav" once the dialog opens.
    std::string m_strFileName;

    static constexpr int kSampleRate = 22050;
    static constexpr int kMaxFileName = 80;

    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;
    void OnRecord();
    void OnStopRecord();

    // A take that is still running when the dialog ends (OK in a later
    // take, the owner closing) is stopped and saved first. A take that could
    // not be saved is kept: OK saves it under the name now in the field, and
    // the dialog stays open while that fails too.
    void OnOK() override;
    void OnOwnerClosing() override;

    bool IsRecording() const { return m_bRecording; }
    // A take is held that no save has written yet.
    bool HasUnsavedTake() const { return m_bUnsaved; }

protected:
    bool OnDialogCommand(int id) override;

private:
    unsigned Send(const std::string& command, std::string* reply = nullptr);
    // Saves the take under m_strFileName and closes the device; when the
    // save fails, one message with the path and the reason, and the device
    // stays open with the take.
    bool SaveTake();
    void Report(const std::string& text);

    MciDevice& m_mci;
    bool m_bRecording = false;
    bool m_bUnsaved = false;
};

}  // namespace tarvo
