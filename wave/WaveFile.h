// Buffered RIFF file input: the file is read in blocks into a read buffer,
// chunks are found by descending into them, and samples are taken one byte
// at a time straight from the buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

inline constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24);
}

// One chunk's header, with where its data starts in the file.
struct ChunkInfo {
    std::uint32_t ckid = 0;
    std::uint32_t cksize = 0;
    std::uint32_t fccType = 0;    // form type of a RIFF or LIST chunk
    std::uint64_t dataOffset = 0; // file offset of the chunk's data
};

// The read buffer as the sample reader sees it: the unread bytes run from
// next to end.
struct BufferInfo {
    const std::uint8_t* next = nullptr;
    const std::uint8_t* end = nullptr;
};

class WaveFile {
public:
    static constexpr size_t kBufferSize = 8192;
    // The most chunk headers one search looks at before it gives up.
    static constexpr std::uint32_t kMaxChunksSearched = 1u << 14;

    WaveFile() = default;
    ~WaveFile();
    WaveFile(const WaveFile&) = delete;
    WaveFile& operator=(const WaveFile&) = delete;

    bool Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    // Reads the chunk header at the current position (and the form type of
    // a RIFF or LIST chunk) and positions at its data.
    bool Descend(ChunkInfo& ck);
    // Searches forward from the current position, within parent, for the
    // chunk named id, and positions at its data. A RIFF parent reaches at
    // least to the end of the file; at most kMaxChunksSearched chunk headers
    // are looked at.
    bool FindChunk(ChunkInfo& ck, std::uint32_t id, const ChunkInfo& parent);
    // Moves past the end of ck's data and its pad byte.
    bool Ascend(const ChunkInfo& ck);
    // Reads up to n bytes at the current position; returns the count read,
    // -1 on an error.
    long Read(void* dst, size_t n);

    // Hands the read buffer to the caller and takes it back.
    bool GetInfo(BufferInfo& info);
    // Refills the buffer from the file after the caller has used it up.
    bool Advance(BufferInfo& info);
    bool SetInfo(const BufferInfo& info);

    std::uint64_t Position() const { return bufPos_ + static_cast<std::uint64_t>(next_); }
    // The size of the file when it was opened.
    std::uint64_t Size() const { return size_; }

private:
    bool Fill();  // drops the bytes before the current position, reads the next block
    void Seek(std::uint64_t pos);
    std::uint64_t SearchEnd(const ChunkInfo& parent) const;

    int fd_ = -1;
    std::vector<std::uint8_t> buf_;
    std::uint64_t size_ = 0;
    std::uint64_t bufPos_ = 0;  // file offset of buf_[0]
    size_t next_ = 0;           // current position within buf_
    size_t end_ = 0;            // bytes valid in buf_
    bool lent_ = false;         // the buffer is with the sample reader
    bool error_ = false;
};

}  // namespace tarvo
