// The document: it only names the opened WAVE file.
#pragma once

#include "framework/Document.h"

#include <string>

namespace tarvo {

class CTarvoDoc : public CDocument {
public:
    bool OnNewDocument() override;
    void Serialize(CArchive& ar) override;

    std::string m_strText;  // written when storing, never read
};

}  // namespace tarvo
