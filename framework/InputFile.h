// Files read as untrusted input: opened without waiting, so that a FIFO
// cannot hold the program up, and only when they are of the kind asked for.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tarvo {

enum class InputKind {
    Regular,        // a sound file, a speed log, a summary to resume
    RegularOrPipe,  // a list, which may come from a FIFO or a shell's <(...)
};

// A descriptor open for reading; -1 with the reason in *why (no full stop)
// when path cannot be opened or is of another kind. A pipe is handed back
// blocking: it is then read as a pipe is, and one nobody writes ends at once.
int OpenInputFile(const std::string& path, InputKind kind, std::string* why = nullptr);

// Reads fd to its end in pieces of up to 64 KiB, handing each to take, which
// may stop the reading by answering false; false with the system's words in
// why on a read error.
bool ReadPieces(int fd, const std::function<bool(std::string_view)>& take, std::string& why);

}  // namespace tarvo
