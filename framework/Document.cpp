#include "framework/Document.h"

#include "framework/FormHost.h"
#include "framework/InputFile.h"
#include "framework/MsgBox.h"
#include "resources/Resources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace tarvo {

CArchive& CArchive::operator<<(const std::string& s)
{
    // Lengths below 255 take one byte, longer ones 0xFF and four bytes.
    if (s.size() < 0xFF) {
        m_bytes.push_back(static_cast<unsigned char>(s.size()));
    } else {
        m_bytes.push_back(0xFF);
        auto n = static_cast<std::uint32_t>(s.size());
        for (int i = 0; i < 4; ++i)
            m_bytes.push_back(static_cast<unsigned char>(n >> (8 * i)));
    }
    m_bytes.insert(m_bytes.end(), s.begin(), s.end());
    return *this;
}

void CDocument::SetTitle(const std::string& title)
{
    m_strTitle = title;
    if (onTitleChanged)
        onTitleChanged();
}

void CDocument::SetPathName(const std::string& path, bool addToMru)
{
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path), ec);
    if (ec)
        p = path;
    m_strPathName = p.string();
    SetTitle(p.filename().string());
    if (addToMru && onAddToRecentFileList)
        onAddToRecentFileList(m_strPathName);
}

bool CDocument::OnNewDocument()
{
    m_strPathName.clear();
    m_bModified = false;
    SetTitle(DocumentStrings()[1]);
    return true;
}

bool CDocument::OnOpenDocument(const std::string& path)
{
    // Only a regular file becomes the document.
    const int fd = OpenInputFile(path, InputKind::Regular);
    if (fd < 0)
        return false;
    ::close(fd);
    CArchive ar(false);
    Serialize(ar);
    m_bModified = false;
    return true;
}

std::string OpenFailedMessage(const std::string& path)
{
    return "Cannot open the file \"" + path + "\".";
}

bool CSingleDocTemplate::OnFileNew()
{
    if (!m_doc.OnNewDocument())
        return false;
    m_view.OnInitialUpdate();
    return true;
}

bool CSingleDocTemplate::OpenDocumentFile(const std::string& path)
{
    if (!m_doc.OnOpenDocument(path)) {
        m_host.MessageBox(OpenFailedMessage(path), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    m_doc.SetPathName(path, true);
    m_view.OnInitialUpdate();
    return true;
}

}  // namespace tarvo
