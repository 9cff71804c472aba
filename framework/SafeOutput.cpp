#include "framework/SafeOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

namespace tarvo {

namespace {

// Errors of our own beside errno's, for Reason.
constexpr int kNotAFile = -1;     // a block device, a socket...
constexpr int kNoReader = -2;     // a FIFO nobody reads
constexpr int kTooManyLinks = -3;

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// path with every symbolic link at its last component followed to the name
// it gives (a link in the folders above needs nothing: the system follows
// those). A dangling link gives the name it points at, to be made.
bool FollowLinks(std::string path, std::string& out, int& error)
{
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            out = path;
            return true;
        }
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
        if (n <= 0) {
            error = n < 0 ? errno : ENOENT;
            return false;
        }
        const std::string target(buf, static_cast<size_t>(n));
        path = target.front() == '/' ? target : FolderOf(path) + target;
    }
    error = kTooManyLinks;
    return false;
}

bool WriteAll(int fd, const char* p, size_t left, int& error)
{
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    if (a.empty() || b.empty() || ::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

SafeOutputFile::~SafeOutputFile() { Discard(); }

void SafeOutputFile::Discard()
{
    if (m_file)
        std::fclose(m_file);
    else if (m_fd >= 0)
        ::close(m_fd);
    m_file = nullptr;
    m_fd = -1;
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
    m_temp.clear();
}

// What Open and OpenAppend share: the reset, the inputs, the links.
bool SafeOutputFile::Start(const std::string& path, const std::vector<std::string>& inputs)
{
    Discard();
    m_path.clear();
    m_error = 0;
    m_isInput = m_failed = m_direct = m_append = false;
    m_good = 0;
    if (path.empty()) {
        m_error = ENOENT;
        return false;
    }
    for (const std::string& in : inputs) {
        if (IsSameFile(path, in)) {
            m_isInput = true;
            return false;
        }
    }
    m_path = path;
    return true;
}

bool SafeOutputFile::Open(const std::string& path, const std::vector<std::string>& inputs)
{
    if (!Start(path, inputs))
        return false;
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    // The program's own standard output or error (/dev/stdout, a shell's
    // >> file) is written through the descriptor it has, appending where
    // the shell opened it to append: never replaced.
    for (const int own : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat so {};
        if (exists && ::fstat(own, &so) == 0 && so.st_dev == st.st_dev && so.st_ino == st.st_ino) {
            m_fd = ::fcntl(own, F_DUPFD_CLOEXEC, 3);
            if (m_fd < 0) {
                m_error = errno;
                return false;
            }
            m_direct = true;
            return true;
        }
    }
    // A pipe or a device is opened by the name given: /proc/self/fd/1 names
    // a pipe through a link that gives no path.
    if (exists && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        // Without waiting for a reader; then writes wait as a pipe's do.
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0) {
            m_error = errno == ENXIO && S_ISFIFO(st.st_mode) ? kNoReader : errno;
            return false;
        }
        const int flags = ::fcntl(m_fd, F_GETFL);
        if (flags == -1 || ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
            m_error = errno;
            Discard();
            return false;
        }
        m_direct = true;
        return true;
    }
    if (exists && S_ISDIR(st.st_mode)) {
        m_error = EISDIR;
        return false;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        m_error = kNotAFile;
        return false;
    }
    // A file the user may not write stays refused, though its folder would
    // let a new file take its name.
    if (exists && ::access(m_path.c_str(), W_OK) != 0) {
        m_error = errno;
        return false;
    }
    // The temporary file goes beside the file a link names, and the rename
    // replaces that file, not the link.
    if (!FollowLinks(path, m_path, m_error))
        return false;

    const std::string folder = FolderOf(m_path);
    const std::string base = m_path.substr(folder.size());
    static std::atomic<unsigned> counter{0};
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned tag = entropy() ^ (static_cast<unsigned>(::getpid()) << 8) ^ counter++;
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", tag);
        // A short stem keeps a name near the length limit within it.
        const std::string temp = folder + "." + base.substr(0, 200) + suffix + ".part";
        m_fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_temp = temp;
            if (exists)
                (void)::fchmod(m_fd, st.st_mode & 07777);
            return true;
        }
        if (errno != EEXIST) {
            m_error = errno;
            return false;
        }
    }
    m_error = EEXIST;
    return false;
}

bool SafeOutputFile::OpenAppend(const std::string& path, const std::vector<std::string>& inputs, long long keep)
{
    if (!Start(path, inputs) || !FollowLinks(path, m_path, m_error))
        return false;
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        m_error = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_error = S_ISREG(st.st_mode) ? errno : kNotAFile;
        Discard();
        return false;
    }
    if (keep >= 0 && keep < static_cast<long long>(st.st_size) && ::ftruncate(m_fd, static_cast<off_t>(keep)) != 0) {
        m_error = errno;
        Discard();
        return false;
    }
    m_append = true;
    m_good = keep >= 0 && keep < static_cast<long long>(st.st_size) ? keep : static_cast<long long>(st.st_size);
    return true;
}

std::FILE* SafeOutputFile::File()
{
    if (!m_file && m_fd >= 0) {
        m_file = ::fdopen(m_fd, "wb");
        if (!m_file)
            Fail(errno);
    }
    return m_file;
}

bool SafeOutputFile::Write(const std::string& bytes)
{
    if (m_fd < 0 || m_failed) {
        Fail(m_error ? m_error : EBADF);
        return false;
    }
    // What a stream holds goes first, so that the bytes keep their order.
    if (m_file && std::fflush(m_file) != 0) {
        Fail(errno);
        return false;
    }
    int error = 0;
    if (WriteAll(m_fd, bytes.data(), bytes.size(), error)) {
        m_good += static_cast<long long>(bytes.size());
        return true;
    }
    // A record half written would read as a whole one: cut it off.
    if (m_append)
        (void)::ftruncate(m_fd, static_cast<off_t>(m_good));
    Fail(error);
    return false;
}

void SafeOutputFile::Fail(int error)
{
    if (!m_failed)
        m_error = error ? error : EIO;
    m_failed = true;
}

// Flushes what is written to the disk; a device has nothing to sync.
bool SafeOutputFile::Sync()
{
    if (m_file && std::fflush(m_file) != 0)
        Fail(errno);
    if (!m_failed && !m_direct && ::fsync(m_fd) != 0)
        Fail(errno);
    return !m_failed;
}

bool SafeOutputFile::Publish()
{
    if (m_fd < 0 || m_failed)
        return false;
    if (m_temp.empty())
        return Sync();
    if (Sync() && ::rename(m_temp.c_str(), m_path.c_str()) != 0)
        Fail(errno);
    if (m_failed)
        return false;
    // From here on the file is added to where it stands.
    m_temp.clear();
    m_append = true;
    m_good = static_cast<long long>(::lseek(m_fd, 0, SEEK_CUR));
    return true;
}

bool SafeOutputFile::Commit()
{
    if (m_fd < 0) {
        if (!m_error && !m_isInput)
            m_error = EBADF;
        return false;
    }
    if (!m_failed)
        Sync();
    if (m_file) {
        if (std::fclose(m_file) != 0)
            Fail(errno);
    } else if (::close(m_fd) != 0) {
        Fail(errno);
    }
    m_file = nullptr;
    m_fd = -1;
    if (!m_failed && !m_temp.empty() && ::rename(m_temp.c_str(), m_path.c_str()) != 0)
        Fail(errno);
    if (m_failed) {
        Discard();
        return false;
    }
    m_temp.clear();
    return true;
}

std::string SafeOutputFile::Reason() const
{
    if (m_isInput)
        return "it is the input file";
    switch (m_error) {
    case kNotAFile:
        return "it is neither a regular file, a FIFO nor a character device";
    case kNoReader:
        return "it is a FIFO that nothing reads";
    case kTooManyLinks:
        return std::strerror(ELOOP);
    default:
        return std::strerror(m_error ? m_error : EIO);
    }
}

bool WriteFileSafely(const std::string& path, const std::string& bytes, const std::vector<std::string>& inputs,
                     std::string* reason)
{
    SafeOutputFile out;
    const bool ok = out.Open(path, inputs) && out.Write(bytes) && out.Commit();
    if (!ok && reason)
        *reason = out.Reason();
    if (!ok && !out.IsInput())
        errno = out.Error() > 0 ? out.Error() : EIO;
    return ok;
}

}  // namespace tarvo
