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
    if (m_bRecording) {
        Send("save capture " + m_strFileName);
        Send("close capture wait");
    }
}

void CRecordDialog::Send(const std::string& command)
{
    std::string reply;
    m_mci.SendString(command, &reply);  // neither the result nor the reply is looked at
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
    EnableItem(IDC_STOPRECORD, true);
    EnableItem(IDC_RECORD, false);
    EnableItem(IDCANCEL, false);
    Send("open new type waveaudio alias capture");
    char set[64];
    std::snprintf(set, sizeof set, "set capture samplespersec to %i wait", kSampleRate);
    Send(set);
    Send("record capture");
    m_bRecording = true;
}

void CRecordDialog::OnStopRecord()
{
    UpdateData(true);
    Send("save capture " + m_strFileName);
    Send("close capture wait");
    m_bRecording = false;
    EnableItem(IDC_STOPRECORD, false);
    EnableItem(IDC_RECORD, true);
    EnableItem(IDOK, true);
}

void CRecordDialog::OnOK()
{
    if (m_bRecording)
        OnStopRecord();
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
