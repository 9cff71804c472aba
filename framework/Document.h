// The document side of the framework: a document that names a file, and the
// single-document template that reuses one document and one view for New
// and Open.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarvo {

class FormHost;

// The archive of a document's stored form; only storing is ever asked of it.
class CArchive {
public:
    explicit CArchive(bool storing) : m_bStoring(storing) {}
    bool IsStoring() const { return m_bStoring; }
    // A string as a length-prefixed byte run.
    CArchive& operator<<(const std::string& s);
    const std::vector<unsigned char>& Bytes() const { return m_bytes; }

private:
    bool m_bStoring;
    std::vector<unsigned char> m_bytes;
};

class CDocument {
public:
    virtual ~CDocument() = default;

    const std::string& GetPathName() const { return m_strPathName; }
    const std::string& GetTitle() const { return m_strTitle; }
    void SetTitle(const std::string& title);
    // Makes path (made absolute) the document's file and its file name the
    // title; with addToMru the file also enters the recent-file list.
    void SetPathName(const std::string& path, bool addToMru = true);
    bool IsModified() const { return m_bModified; }

    virtual bool OnNewDocument();
    // Opens the file for reading and loads it; false when it cannot be opened.
    virtual bool OnOpenDocument(const std::string& path);
    virtual void Serialize(CArchive& ar) { (void)ar; }

    // Told of every file that enters the recent-file list; set by a host.
    std::function<void(const std::string&)> onAddToRecentFileList;
    // Told whenever the title changes; set by a host.
    std::function<void()> onTitleChanged;

private:
    std::string m_strPathName;
    std::string m_strTitle;
    bool m_bModified = false;
};

// A view the template re-initialises for every new or opened document.
class CView {
public:
    virtual ~CView() = default;
    virtual void OnInitialUpdate() = 0;
};

// One document and one view for the whole run, as a single-document
// template keeps them.
class CSingleDocTemplate {
public:
    CSingleDocTemplate(CDocument& doc, CView& view, FormHost& host) : m_doc(doc), m_view(view), m_host(host) {}

    // File New: empties the document and re-initialises the view.
    bool OnFileNew();
    // Opens path as the document. A file that cannot be opened is reported
    // with the framework's open-failure message and the document keeps its
    // previous path and title.
    bool OpenDocumentFile(const std::string& path);

private:
    CDocument& m_doc;
    CView& m_view;
    FormHost& m_host;
};

// The framework's open-failure message.
std::string OpenFailedMessage(const std::string& path);

}  // namespace tarvo
