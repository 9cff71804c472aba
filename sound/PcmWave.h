// PCM sounds in memory: reading a WAVE file for playback, writing a
// recording, converting captured audio, the built-in sounds and where a
// sound's file is looked for.
#pragma once

#include "sound/Mci.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvo {

// Interleaved PCM frames: 8-bit unsigned or 16-bit signed little-endian.
struct PcmSound {
    int rate = 0;
    int channels = 0;
    int bits = 0;
    std::vector<unsigned char> data;

    int FrameBytes() const { return channels * bits / 8; }
};

// Parses a RIFF WAVE holding PCM of 8 or 16 bits, one or two channels, any
// rate from 1000 to 192000. Empty when the bytes are anything else. A data
// chunk that claims more than the file holds keeps what is there, cut to
// whole frames.
std::optional<PcmSound> ParsePcmWave(const std::vector<unsigned char>& bytes);
std::optional<PcmSound> ReadPcmWaveFile(const std::string& path);

// A RIFF WAVE of 8-bit mono samples at rate.
std::vector<unsigned char> Wave8MonoBytes(int rate, const std::vector<unsigned char>& samples);
// False, with the system's reason in *reason when given, when it cannot be
// written whole; an old file of that name is then left as it was.
bool WriteWave8MonoFile(const std::string& path, int rate, const std::vector<unsigned char>& samples,
                        std::string* reason = nullptr);

// Captured bytes in any format, mixed down to one channel, brought to
// outRate by linear interpolation and quantised to 8-bit unsigned samples.
// A trailing partial frame is dropped.
std::vector<unsigned char> ConvertToMono8(const std::vector<unsigned char>& bytes, const CaptureFormat& format,
                                          int outRate);

// The built-in sounds by name ("SystemDefault", "SystemAsterisk",
// "SystemExclamation", "SystemHand", "SystemQuestion"; case does not
// matter), empty for any other name.
std::optional<PcmSound> BuiltInSound(const std::string& name);
// The short sound played for a name that is found nowhere.
const PcmSound& DefaultSound();

// Where a named sound file is: the name as given when it exists (a
// relative name from the current directory); else, for a relative name,
// the same name beside the program, then in the data folder. Empty when it
// is nowhere. exists is asked about each candidate in that order.
std::string ResolveSoundFile(const std::string& name, const std::string& programDir, const std::string& dataDir,
                             const std::function<bool(const std::string&)>& exists);

// Generators of the two test files: 8-bit mono at 22050 samples a second.
// The tone is a whole number of its periods long, so that its loop has no
// click; the noise is the same for every run.
inline constexpr int kTestSoundRate = 22050;
std::vector<unsigned char> ToneSamples(double hz, int periods, int rate = kTestSoundRate);
std::vector<unsigned char> WhiteNoiseSamples(int count);

}  // namespace tarvo
