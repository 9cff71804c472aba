// Output files written so that nothing is lost: an output that names one of
// the run's inputs is refused, and an output is written to a temporary file
// in the same folder and renamed into place once it is whole, so a failure
// halfway (a full disk, a killed program) leaves the old file as it was.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarvo {

// Whether a and b name one existing file: the same device and inode (a
// second name, a link or another spelling of the path included).
bool IsSameFile(const std::string& a, const std::string& b);

class SafeOutputFile {
public:
    SafeOutputFile() = default;
    ~SafeOutputFile();  // a file not committed is removed, the old one kept
    SafeOutputFile(const SafeOutputFile&) = delete;
    SafeOutputFile& operator=(const SafeOutputFile&) = delete;

    // Refuses path when it names one of inputs; else makes the temporary
    // file beside it (with the old file's permissions when there is one).
    // An existing path that is not a regular file (a device such as
    // /dev/null) cannot be replaced and is written directly.
    bool Open(const std::string& path, const std::vector<std::string>& inputs = {});

    // The open file, as a descriptor or as a stream (one or the other).
    int Fd() const { return m_fd; }
    std::FILE* File();
    // The temporary file's name, for a writer that opens files by name.
    const std::string& TempPath() const { return m_temp; }

    // Notes a failure of the caller's writing (an errno value): Commit then
    // removes the temporary file and fails.
    void Fail(int error);
    // Flushes and closes the file and renames it into place.
    bool Commit();

    // Why Open or Commit failed: the system's words, or that the output is
    // an input. No full stop at the end.
    std::string Reason() const;
    // The errno of the failure; 0 when the output was refused as an input.
    int Error() const { return m_error; }
    bool IsInput() const { return m_isInput; }

private:
    void Discard();

    std::string m_path, m_temp;  // m_temp empty when writing directly
    int m_fd = -1;
    std::FILE* m_file = nullptr;
    int m_error = 0;
    bool m_isInput = false;
    bool m_failed = false;
};

// The whole of bytes written to path as above; false with out's reason.
bool WriteFileSafely(const std::string& path, const std::string& bytes, const std::vector<std::string>& inputs,
                     std::string* reason = nullptr);

}  // namespace tarvo
