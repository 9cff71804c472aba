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
    // take, the owner closing) is stopped and saved first.
    void OnOK() override;
    void OnOwnerClosing() override;

    bool IsRecording() const { return m_bRecording; }

protected:
    bool OnDialogCommand(int id) override;

private:
    void Send(const std::string& command);

    MciDevice& m_mci;
    bool m_bRecording = false;
};

}  // namespace tarvo
