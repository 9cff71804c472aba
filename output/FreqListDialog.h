// The frequency list window (dialog 110): one read-only multi-line edit
// that shows the list text; closed by its close box or Esc.
#pragma once

#include "framework/Dialog.h"

#include <string>

namespace tarvo {

class CFreqListDialog : public CDialog {
public:
    CFreqListDialog();

    std::string m_strFreqs;  // the whole list text

    // The dialog's own OnInitDialog copies the list into the edit.
    void DoDataExchange(CDataExchange* pDX) override;
};

}  // namespace tarvo
