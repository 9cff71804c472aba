// tarvo-cli: the form's commands without a window.
#pragma once

#include <iosfwd>

namespace tarvo {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitMessage = 1;  // a message box was shown, or an output could not be written
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLimit = 3;    // a file of the meter failed a --limit

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace tarvo
