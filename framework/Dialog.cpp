#include "framework/Dialog.h"

#include "framework/DataExchange.h"
#include "framework/MsgBox.h"
#include "framework/Templates.h"

namespace tarvo {

bool CDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void CDialog::OnOK()
{
    if (UpdateData(true))
        EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnCommand(int id)
{
    // A disabled button cannot be pressed, and neither its key (Enter for
    // OK, Esc for Cancel) nor the close box stands in for it.
    const bool hasButton = m_pHost && (id == IDOK || id == IDCANCEL) &&
                           m_tmpl.Find(id) != nullptr;
    if (hasButton && !m_pHost->IsControlEnabled(id))
        return true;
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return OnDialogCommand(id);
}

bool CDialog::UpdateData(bool bSaveAndValidate)
{
    if (!m_pHost)
        return false;
    CDataExchange dx(*m_pHost, bSaveAndValidate);
    DoDataExchange(&dx);
    return !dx.m_bFailed;
}

void CDialog::EndDialog(int result)
{
    m_bEnded = true;
    m_nResult = result;
    if (onEnd)
        onEnd(result);
}

void CDialog::EnableItem(int id, bool enable)
{
    if (m_pHost)
        m_pHost->EnableControl(id, enable);
}

}  // namespace tarvo
