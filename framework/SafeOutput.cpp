#include "framework/SafeOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace tarvo {

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

bool SafeOutputFile::Open(const std::string& path, const std::vector<std::string>& inputs)
{
    Discard();
    m_path = path;
    m_error = 0;
    m_isInput = false;
    m_failed = false;
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
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        m_error = EISDIR;
        return false;
    }
    // A file the user may not write stays refused, though its folder would
    // let a new file take its name.
    if (exists && ::access(path.c_str(), W_OK) != 0) {
        m_error = errno;
        return false;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        m_fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (m_fd < 0)
            m_error = errno;
        return m_fd >= 0;
    }

    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned tag = entropy() ^ (static_cast<unsigned>(::getpid()) << 8) ^ counter++;
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", tag);
        // A short stem keeps a name near the length limit within it.
        const std::string temp = folder + "." + base.substr(0, 200) + suffix + ".part";
        m_fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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

std::FILE* SafeOutputFile::File()
{
    if (!m_file && m_fd >= 0) {
        m_file = ::fdopen(m_fd, "wb");
        if (!m_file)
            Fail(errno);
    }
    return m_file;
}

void SafeOutputFile::Fail(int error)
{
    if (!m_failed)
        m_error = error ? error : EIO;
    m_failed = true;
}

bool SafeOutputFile::Commit()
{
    if (m_fd < 0) {
        if (!m_error && !m_isInput)
            m_error = EBADF;
        return false;
    }
    if (m_file) {
        if (std::fflush(m_file) != 0)
            Fail(errno);
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
    return std::strerror(m_error ? m_error : EIO);
}

bool WriteFileSafely(const std::string& path, const std::string& bytes, const std::vector<std::string>& inputs,
                     std::string* reason)
{
    SafeOutputFile out;
    bool ok = out.Open(path, inputs);
    if (ok) {
        const char* p = bytes.data();
        size_t left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(out.Fd(), p, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                out.Fail(n < 0 ? errno : EIO);
                break;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        ok = out.Commit();
    }
    if (!ok && reason)
        *reason = out.Reason();
    if (!ok && !out.IsInput())
        errno = out.Error();
    return ok;
}

}  // namespace tarvo
