// Output files written so that nothing is lost: an output that names one of
// the run's inputs is refused, and an output is written to a fresh temporary
// file in the same folder as the file it replaces and renamed into place once
// it is whole, so a failure halfway (a full disk, a killed program) leaves
// the old file as it was.
//
// - A symbolic link at the output's name is followed to the file it names:
//   the temporary file is made beside that file, and the link stays.
// - The temporary name is new each time (O_CREAT | O_EXCL): a file or a link
//   already there under that name is never opened.
// - Every write, the flush, fsync and the close are checked.
// - A FIFO or a character device (a pipe, a terminal, /dev/null) is written
//   directly; it is opened without waiting, so a FIFO nobody reads is a
//   message, not a hang.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarvo {

// Whether a and b name one existing file: the same device and inode (a
// second name, a link or another spelling of the path included).
bool IsSameFile(const std::string& a, const std::string& b);

// The name that stands for standard input among a run's inputs.
inline constexpr const char* kStandardInput = "/proc/self/fd/0";

class SafeOutputFile {
public:
    SafeOutputFile() = default;
    ~SafeOutputFile();  // a file not committed is removed, the old one kept
    SafeOutputFile(const SafeOutputFile&) = delete;
    SafeOutputFile& operator=(const SafeOutputFile&) = delete;

    // Refuses path when it names one of inputs; else makes the temporary
    // file beside the file path names (with the old file's permissions when
    // there is one), or opens a FIFO or device to be written directly.
    bool Open(const std::string& path, const std::vector<std::string>& inputs = {});

    // Opens an existing regular file to add to its end in place (a summary
    // continued), first cut to keep bytes when keep is not negative. Write
    // then takes back a record it could not write whole.
    bool OpenAppend(const std::string& path, const std::vector<std::string>& inputs = {}, long long keep = -1);

    // The open file, as a descriptor or as a stream (one or the other).
    int Fd() const { return m_fd; }
    std::FILE* File();

    // Writes all of bytes; false (and Commit fails) when it cannot. On a file
    // added to in place, a part written is cut off again.
    bool Write(const std::string& bytes);

    // Notes a failure of the caller's writing (an errno value): Commit then
    // removes the temporary file and fails.
    void Fail(int error);
    bool Failed() const { return m_failed; }

    // Puts the file written so far in place of the target at once (fsync,
    // rename) and keeps it open for more: a long run's records stand where
    // they belong should the run be killed.
    bool Publish();

    // Flushes, fsyncs and closes the file and renames it into place.
    bool Commit();

    // Why Open, Write or Commit failed: the system's words, or that the
    // output is an input. No full stop at the end.
    std::string Reason() const;
    // The errno of the failure; 0 when the output was refused as an input.
    int Error() const { return m_error; }
    bool IsInput() const { return m_isInput; }
    // Whether the output is a FIFO or a device written directly.
    bool Direct() const { return m_direct; }

private:
    void Discard();
    bool Start(const std::string& path, const std::vector<std::string>& inputs);
    bool Sync();

    std::string m_path;     // the file written: path with its links followed
    std::string m_temp;     // empty when writing in place or directly
    int m_fd = -1;
    std::FILE* m_file = nullptr;
    int m_error = 0;
    bool m_isInput = false;
    bool m_failed = false;
    bool m_direct = false;
    bool m_append = false;
    long long m_good = 0;  // the length of an appended file up to its last whole write
};

// The whole of bytes written to path as above; false with out's reason.
bool WriteFileSafely(const std::string& path, const std::string& bytes, const std::vector<std::string>& inputs,
                     std::string* reason = nullptr);

}  // namespace tarvo
