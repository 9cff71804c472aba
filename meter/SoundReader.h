// Audio input of the meter: any file libsndfile reads (PCM WAVE of 8 to 32
// bits, float, WAVE_FORMAT_EXTENSIBLE, RF64, FLAC...), read in blocks of
// interleaved float samples so that memory does not grow with the file.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo::meter {

class SoundReader {
public:
    SoundReader() = default;
    ~SoundReader();
    SoundReader(const SoundReader&) = delete;
    SoundReader& operator=(const SoundReader&) = delete;

    // Opens the file; on failure returns false and leaves the reason in Error().
    bool Open(const std::string& path);
    void Close();

    int Channels() const { return channels_; }
    int Rate() const { return rate_; }
    int64_t Frames() const { return frames_; }
    const std::string& Error() const { return error_; }
    // libsndfile's format of the file: the container and the encoding.
    int Format() const { return format_; }
    // The file could not be opened at all (absent, not a regular file):
    // Error() is then the whole message.
    bool Unopenable() const { return unopenable_; }

    // Reads up to `frames` frames of interleaved samples (full scale +-1);
    // returns the frames read, 0 at the end or on an error.
    int64_t Read(float* interleaved, int64_t frames);
    // The file holds 16-bit samples: they may be read as they are stored,
    // x / 32768 being exactly the float Read gives.
    bool Holds16Bit() const { return pcm16_; }
    int64_t Read(int16_t* interleaved, int64_t frames);
    // The samples are stored as integers, so every one read is finite.
    bool HoldsIntegers() const { return integers_; }
    bool Seek(int64_t frame);
    // From now on the file is its frames first..first+count-1 alone: Frames()
    // gives count, Seek and Read stay within them. False (nothing changed)
    // unless they lie within the file.
    bool Limit(int64_t first, int64_t count);

private:
    bool OpenOnce(const std::string& path);
    void* file_ = nullptr;  // SNDFILE*
    int channels_ = 0;
    int rate_ = 0;
    int64_t frames_ = 0;
    int64_t first_ = 0;     // the window's first frame in the file
    int64_t position_ = 0;  // the next frame read, within the window
    std::string error_;
    bool unopenable_ = false;
    bool pcm16_ = false, integers_ = false;
    int format_ = 0;
};

}  // namespace tarvo::meter
