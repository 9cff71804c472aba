#include "framework/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvo {

int OpenInputFile(const std::string& path, InputKind kind, std::string* why)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (why)
            *why = std::strerror(errno);
        return -1;
    }
    struct stat st {};
    const bool stated = ::fstat(fd, &st) == 0;
    const bool pipe = stated && S_ISFIFO(st.st_mode) && kind == InputKind::RegularOrPipe;
    if (!stated || !(S_ISREG(st.st_mode) || pipe)) {
        if (why)
            *why = !stated ? std::strerror(errno)
                   : kind == InputKind::Regular ? "it is not a regular file"
                                                : "it is neither a regular file nor a pipe";
        ::close(fd);
        return -1;
    }
    if (pipe) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags != -1)
            (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

bool ReadPieces(int fd, const std::function<bool(std::string_view)>& take, std::string& why)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        if (!take(std::string_view(buf, static_cast<size_t>(n))))
            return false;
    }
}

}  // namespace tarvo
