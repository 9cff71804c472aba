// A view on a windowless form, as tarvo-cli runs it.
#pragma once

#include "WaveBuilder.h"
#include "form/TarvoDoc.h"
#include "form/TarvoView.h"
#include "framework/VirtualForm.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

namespace tarvo::test {

class ViewTest : public ::testing::Test {
protected:
    ViewTest() : view(form, doc), docTemplate(doc, view, form) { docTemplate.OnFileNew(); }

    // Writes bytes as a file and opens it as the document.
    std::string Open(const Bytes& bytes, const std::string& name = "in.wav")
    {
        std::string path = dir.Write(name, bytes);
        EXPECT_TRUE(docTemplate.OpenDocumentFile(path));
        return path;
    }
    std::string Field(int id) const { return form.GetDlgItemText(id); }
    // The texts of the messages shown so far.
    std::vector<std::string> MessageTexts() const
    {
        std::vector<std::string> t;
        for (const auto& m : form.Messages())
            t.push_back(m.text);
        return t;
    }

    TempDir dir;
    VirtualForm form{FormTemplate()};
    CTarvoDoc doc;
    CTarvoView view;
    CSingleDocTemplate docTemplate;
};

}  // namespace tarvo::test
