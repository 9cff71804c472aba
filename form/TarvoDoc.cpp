#include "form/TarvoDoc.h"

namespace tarvo {

bool CTarvoDoc::OnNewDocument()
{
    if (!CDocument::OnNewDocument())
        return false;
    m_strText.clear();
    return true;
}

void CTarvoDoc::Serialize(CArchive& ar)
{
    if (ar.IsStoring())
        ar << m_strText;
}

}  // namespace tarvo
