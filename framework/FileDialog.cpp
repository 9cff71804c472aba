#include "framework/FileDialog.h"

#include "framework/FormHost.h"
#include "framework/MsgBox.h"

#include <filesystem>

namespace tarvo {

std::vector<FileFilter> ParseFilterText(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t bar = text.find('|', start);
        parts.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    std::vector<FileFilter> filters;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty())
            break;
        filters.push_back({parts[i], parts[i + 1]});
    }
    return filters;
}

CFileDialog::CFileDialog(bool bOpenFileDialog, const std::string& defExt, const std::string& fileName,
                         unsigned flags, const std::string& filter)
{
    m_request.save = !bOpenFileDialog;
    m_request.defaultExt = defExt;
    m_request.fileName = fileName;
    m_request.filters = ParseFilterText(filter);
    m_request.flags = flags;
}

int CFileDialog::DoModal(FormHost& owner)
{
    std::optional<std::string> path = owner.GetSaveFileName(m_request);
    if (!path || path->empty())
        return IDCANCEL;
    // The dialog answers with a full path, as the file's first line shows it.
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(*path, ec);
    m_strPathName = ec ? *path : full.string();
    return IDOK;
}

}  // namespace tarvo
