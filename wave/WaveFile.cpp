#include "wave/WaveFile.h"

#include "framework/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvo {

namespace {
std::uint32_t LoadU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
}  // namespace

WaveFile::~WaveFile() { Close(); }

bool WaveFile::Open(const std::string& path)
{
    Close();
    // Only a regular file is read (a FIFO, a device or a folder is refused at once).
    const int fd = OpenInputFile(path, InputKind::Regular);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(st.st_size);
    buf_.assign(kBufferSize, 0);
    bufPos_ = 0;
    next_ = end_ = 0;
    lent_ = false;
    error_ = false;
    return true;
}

void WaveFile::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    size_ = 0;
    buf_.clear();
    buf_.shrink_to_fit();
    next_ = end_ = 0;
}

bool WaveFile::Fill()
{
    bufPos_ += next_;
    next_ = end_ = 0;
    ssize_t n;
    do
        n = ::pread(fd_, buf_.data(), buf_.size(), static_cast<off_t>(bufPos_));
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        error_ = true;
        return false;
    }
    end_ = static_cast<size_t>(n);
    return true;
}

void WaveFile::Seek(std::uint64_t pos)
{
    if (pos >= bufPos_ && pos <= bufPos_ + end_) {
        next_ = static_cast<size_t>(pos - bufPos_);
        return;
    }
    bufPos_ = pos;
    next_ = end_ = 0;
}

long WaveFile::Read(void* dst, size_t n)
{
    if (fd_ < 0)
        return -1;
    auto* out = static_cast<std::uint8_t*>(dst);
    size_t done = 0;
    while (done < n) {
        if (next_ == end_) {
            if (!Fill())
                return -1;
            if (end_ == 0)
                break;
        }
        size_t take = end_ - next_;
        if (take > n - done)
            take = n - done;
        std::memcpy(out + done, buf_.data() + next_, take);
        next_ += take;
        done += take;
    }
    return static_cast<long>(done);
}

bool WaveFile::Descend(ChunkInfo& ck)
{
    std::uint8_t h[8];
    std::uint64_t start = Position();
    if (Read(h, 8) != 8)
        return false;
    ck.ckid = LoadU32(h);
    ck.cksize = LoadU32(h + 4);
    ck.dataOffset = start + 8;
    ck.fccType = 0;
    if (ck.ckid == MakeFourCC('R', 'I', 'F', 'F') || ck.ckid == MakeFourCC('L', 'I', 'S', 'T')) {
        std::uint8_t t[4];
        if (Read(t, 4) != 4)
            return false;
        ck.fccType = LoadU32(t);
    }
    return true;
}

std::uint64_t WaveFile::SearchEnd(const ChunkInfo& parent) const
{
    std::uint64_t end = parent.dataOffset + parent.cksize;
    // A RIFF size that is 0, as a writer leaves it when it cannot seek back,
    // or smaller than the chunks the file holds, reads as "to the end of
    // the file".
    if (parent.ckid == MakeFourCC('R', 'I', 'F', 'F') && end < size_)
        end = size_;
    return end;
}

bool WaveFile::FindChunk(ChunkInfo& ck, std::uint32_t id, const ChunkInfo& parent)
{
    const std::uint64_t parentEnd = SearchEnd(parent);
    for (std::uint32_t visited = 0;; ++visited) {
        // However large the file claims to be, the search looks at a bounded
        // number of chunk headers.
        if (visited >= kMaxChunksSearched)
            return false;
        std::uint64_t pos = Position();
        if (pos + 8 > parentEnd)
            return false;
        std::uint8_t h[8];
        if (Read(h, 8) != 8)
            return false;
        std::uint32_t ckid = LoadU32(h), cksize = LoadU32(h + 4);
        if (ckid == id) {
            ck.ckid = ckid;
            ck.cksize = cksize;
            ck.fccType = 0;
            ck.dataOffset = pos + 8;
            return true;
        }
        Seek(pos + 8 + cksize + (cksize & 1u));
    }
}

bool WaveFile::Ascend(const ChunkInfo& ck)
{
    if (fd_ < 0)
        return false;
    Seek(ck.dataOffset + ck.cksize + (ck.cksize & 1u));
    return true;
}

bool WaveFile::GetInfo(BufferInfo& info)
{
    if (fd_ < 0 || lent_)
        return false;
    info.next = buf_.data() + next_;
    info.end = buf_.data() + end_;
    lent_ = true;
    return true;
}

bool WaveFile::Advance(BufferInfo& info)
{
    if (fd_ < 0 || !lent_)
        return false;
    next_ = static_cast<size_t>(info.next - buf_.data());
    if (next_ > end_)
        next_ = end_;
    if (!Fill())  // the next block, from the first unread byte on
        return false;
    info.next = buf_.data() + next_;
    info.end = buf_.data() + end_;
    return true;
}

bool WaveFile::SetInfo(const BufferInfo& info)
{
    if (fd_ < 0 || !lent_)
        return false;
    next_ = static_cast<size_t>(info.next - buf_.data());
    if (next_ > end_)
        next_ = end_;
    lent_ = false;
    return true;
}

}  // namespace tarvo
