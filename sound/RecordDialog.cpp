#include "sound/RecordDialog.h"

#include "framework/DataExchange.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"

#include <cstdio>

namespace tarvo {

CRecordDialog::CRecordDialog(MciDevice& mci) : CDialog(RecordTemplate()), m_mci(mci) {}

CRecordDialog::~CRecordDialog()
{
    // Never leave the device recording: a take still running when the
    // dialog goes away is saved under the last name exchanged and closed.
    if (m_bRecording)
        Send("save capture " + m_strFileName);
    if (m_bRecording || m_bUnsaved)
        Send("close capture wait");
}

unsigned CRecordDialog::Send(const std::string& command, std::string* reply)
{
    std::string ignored;
    return m_mci.SendString(command, reply ? reply : &ignored);
}

void CRecordDialog::Report(const std::string& text)
{
    if (FormHost* host = Host())
        host->MessageBox(text, kAppTitle, MB_OK | MB_ICONEXCLAMATION);
}

bool CRecordDialog::SaveTake()
{
    std::string reason;
    if (Send("save capture " + m_strFileName, &reason) != MCI_OK) {
        m_bUnsaved = true;
        if (reason.ends_with('.'))
            reason.pop_back();
        Report("The recording was not saved as \"" + m_strFileName + "\": " + reason +
               ". Type another name and press OK to save it.");
        return false;
    }
    Send("close capture wait");
    m_bUnsaved = false;
    return true;
}

void CRecordDialog::DoDataExchange(CDataExchange* pDX)
{
    DDX_Text(pDX, IDC_FILENAME, m_strFileName);
    DDV_MaxChars(pDX, m_strFileName, kMaxFileName);
}

bool CRecordDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_strFileName = "temp.wav";
    UpdateData(false);
    EnableItem(IDC_STOPRECORD, false);
    EnableItem(IDOK, false);
    return true;
}

void CRecordDialog::OnRecord()
{
    // Recording again gives up a take that could not be saved.
    if (m_bUnsaved)
        Send("close capture wait");
    m_bUnsaved = false;
    std::string reason;
    unsigned result = Send("open new type waveaudio alias capture", &reason);
    if (result == MCI_OK) {
        char set[64];
        std::snprintf(set, sizeof set, "set capture samplespersec to %i wait", kSampleRate);
        result = Send(set, &reason);
        if (result == MCI_OK)
            result = Send("record capture", &reason);
        if (result != MCI_OK)
            Send("close capture wait");
    }
    if (result != MCI_OK) {
        // Nothing is recording: the dialog stays as it was, with nothing to
        // save that OK could mistake for a new take.
        Report("The recording could not be started: " + reason);
        return;
    }
    EnableItem(IDC_STOPRECORD, true);
    EnableItem(IDC_RECORD, false);
    EnableItem(IDCANCEL, false);
    m_bRecording = true;
}

void CRecordDialog::OnStopRecord()
{
    UpdateData(true);
    m_bRecording = false;
    SaveTake();
    EnableItem(IDC_STOPRECORD, false);
    EnableItem(IDC_RECORD, true);
    EnableItem(IDOK, true);
}

void CRecordDialog::OnOK()
{
    if (m_bRecording) {
        OnStopRecord();
        if (m_bUnsaved)
            return;  // the message is shown; the take waits for another name
    } else if (m_bUnsaved) {
        if (!UpdateData(true) || !SaveTake())
            return;
    }
    CDialog::OnOK();
}

void CRecordDialog::OnOwnerClosing()
{
    if (m_bRecording)
        OnStopRecord();
    CDialog::OnOwnerClosing();
}

bool CRecordDialog::OnDialogCommand(int id)
{
    switch (id) {
    case IDC_RECORD:
        OnRecord();
        return true;
    case IDC_STOPRECORD:
        OnStopRecord();
        return true;
    default:
        return false;
    }
}

}  // namespace tarvo
