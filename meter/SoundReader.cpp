#include "meter/SoundReader.h"

#include "framework/InputFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvo::meter {

SoundReader::~SoundReader() { Close(); }

namespace {

// libsndfile gives a length it does not know (a FLAC written to a pipe) as
// the largest count.
constexpr int64_t kUnknownLength = SF_COUNT_MAX;

// libsndfile keeps the reason of a failed open in variables every thread
// shares: files opened at once (a batch's jobs) open one at a time.
std::mutex opening;

}  // namespace

bool SoundReader::Open(const std::string& path)
{
    if (!OpenOnce(path))
        return false;
    if (frames_ < kUnknownLength && frames_ >= 0)
        return true;
    // Counted by reading to the end in blocks of a fixed size, then opened again.
    const size_t perBlock = std::max<size_t>(1, 65536 / static_cast<size_t>(channels_));
    std::vector<float> block(perBlock * static_cast<size_t>(channels_));
    int64_t count = 0;
    for (int64_t got; (got = Read(block.data(), static_cast<int64_t>(perBlock))) > 0;)
        count += got;
    if (!OpenOnce(path))
        return false;
    frames_ = count;
    return true;
}

bool SoundReader::OpenOnce(const std::string& path)
{
    Close();
    unopenable_ = false;
    // Only a regular file ("-" is a file name like any other).
    const int fd = OpenInputFile(path, InputKind::Regular);
    if (fd < 0) {
        unopenable_ = true;
        error_ = "Cannot open the file \"" + path + "\".";
        return false;
    }
    SF_INFO info{};
    std::unique_lock<std::mutex> hold(opening);
    SNDFILE* f = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (!f) {
        error_ = sf_strerror(nullptr);
        hold.unlock();
        // libsndfile's words for a header without a rate or channels.
        if (error_.find("SF_INFO") != std::string::npos)
            error_ = "its header gives no sample rate or no channels";
        return false;
    }
    file_ = f;
    channels_ = info.channels;
    rate_ = info.samplerate;
    frames_ = info.frames;
    format_ = info.format;
    first_ = position_ = 0;
    const int sub = info.format & SF_FORMAT_SUBMASK;
    pcm16_ = sub == SF_FORMAT_PCM_16;
    integers_ = sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8 || sub == SF_FORMAT_PCM_16 ||
                sub == SF_FORMAT_PCM_24 || sub == SF_FORMAT_PCM_32 || sub == SF_FORMAT_ULAW || sub == SF_FORMAT_ALAW;
    // Integer samples read as float run from -1 to just under +1.
    sf_command(f, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    return true;
}

void SoundReader::Close()
{
    if (file_)
        sf_close(static_cast<SNDFILE*>(file_));
    file_ = nullptr;
    channels_ = rate_ = 0;
    frames_ = 0;
    first_ = position_ = 0;
    pcm16_ = integers_ = false;
    format_ = 0;
}

int64_t SoundReader::Read(float* interleaved, int64_t frames)
{
    frames = std::min(frames, frames_ - position_);
    if (!file_ || frames <= 0)
        return 0;
    const int64_t got = sf_readf_float(static_cast<SNDFILE*>(file_), interleaved, frames);
    position_ += std::max<int64_t>(0, got);
    return got;
}

int64_t SoundReader::Read(int16_t* interleaved, int64_t frames)
{
    frames = std::min(frames, frames_ - position_);
    if (!file_ || frames <= 0)
        return 0;
    const int64_t got = sf_readf_short(static_cast<SNDFILE*>(file_), interleaved, frames);
    position_ += std::max<int64_t>(0, got);
    return got;
}

bool SoundReader::Seek(int64_t frame)
{
    if (!file_ || frame < 0 || frame > frames_ ||
        sf_seek(static_cast<SNDFILE*>(file_), first_ + frame, SEEK_SET) != first_ + frame)
        return false;
    position_ = frame;
    return true;
}

bool SoundReader::Limit(int64_t first, int64_t count)
{
    if (!file_ || first < 0 || count < 0 || first > frames_ - count)
        return false;
    first_ += first;
    frames_ = count;
    return Seek(0);
}

}  // namespace tarvo::meter
