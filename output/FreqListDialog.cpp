// Show Freqs and Add comments: the frequency list in its window, and the
// comment field that SaveData writes into the file's first line.
#include "output/FreqListDialog.h"

#include "form/TarvoView.h"
#include "framework/DataExchange.h"
#include "framework/MsgBox.h"
#include "output/FreqText.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"

#include <algorithm>

namespace tarvo {

CFreqListDialog::CFreqListDialog() : CDialog(FreqListTemplate()) {}

void CFreqListDialog::DoDataExchange(CDataExchange* pDX) { DDX_Text(pDX, IDC_FREQLIST, m_strFreqs); }

void CTarvoView::OnShowFreqs()
{
    CFreqListDialog dlg;
    // A track that does not describe the file the form shows is not listed
    // (a new header and a spectrogram both leave it so).
    if (!m_bFreqsValid) {
        MessageBox("No Frequencies in file.", kAppTitle, MB_OK);
        return;
    }
    dlg.m_strFreqs = FreqListText(m_dDeltaFreq, m_pFreqs.get(), std::clamp(m_nChunks, 0, kMaxChunks));
    dlg.DoModal(m_host);
}

void CTarvoView::OnAddComments()
{
    // The field takes the keyboard: typing right after the menu goes there.
    m_host.ShowControl(IDC_COMMENT, true);
    m_host.SetFocus(IDC_COMMENT);
}

}  // namespace tarvo
