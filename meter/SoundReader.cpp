#include "meter/SoundReader.h"

#include <sndfile.h>

namespace tarvo::meter {

SoundReader::~SoundReader() { Close(); }

bool SoundReader::Open(const std::string& path)
{
    Close();
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) {
        error_ = sf_strerror(nullptr);
        return false;
    }
    file_ = f;
    channels_ = info.channels;
    rate_ = info.samplerate;
    frames_ = info.frames;
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
}

int64_t SoundReader::Read(float* interleaved, int64_t frames)
{
    if (!file_ || frames <= 0)
        return 0;
    return sf_readf_float(static_cast<SNDFILE*>(file_), interleaved, frames);
}

bool SoundReader::Seek(int64_t frame)
{
    return file_ && sf_seek(static_cast<SNDFILE*>(file_), frame, SEEK_SET) == frame;
}

}  // namespace tarvo::meter
