// The save dialog as the view asks for it: a suggested name, the filters and
// the flags. The host that owns the form answers it (a real file dialog in
// the window, a queued answer without one).
#pragma once

#include <string>
#include <vector>

namespace tarvo {

class FormHost;

// Flags of a file dialog.
enum : unsigned {
    OFN_READONLY = 0x1,
    OFN_OVERWRITEPROMPT = 0x2,  // ask before an existing file is replaced
    OFN_HIDEREADONLY = 0x4,     // no "open as read-only" choice
};

// One filter entry: the name shown and the pattern it selects.
struct FileFilter {
    std::string name;
    std::string pattern;
    bool operator==(const FileFilter&) const = default;
};

// What a host is asked to show.
struct FileDialogRequest {
    bool save = true;
    std::string defaultExt;  // empty: a name typed without one stays so
    std::string fileName;    // the suggested name
    std::vector<FileFilter> filters;
    unsigned flags = 0;
};

// "Name|pattern|Name|pattern||" as filter entries; an empty name ends the list.
std::vector<FileFilter> ParseFilterText(const std::string& text);

class CFileDialog {
public:
    CFileDialog(bool bOpenFileDialog, const std::string& defExt, const std::string& fileName, unsigned flags,
                const std::string& filter);

    // Runs the dialog over the owner's window: IDOK with a path, IDCANCEL.
    int DoModal(FormHost& owner);
    // The full path chosen, empty until the dialog ends with OK.
    const std::string& GetPathName() const { return m_strPathName; }
    const FileDialogRequest& Request() const { return m_request; }

private:
    FileDialogRequest m_request;
    std::string m_strPathName;
};

}  // namespace tarvo
