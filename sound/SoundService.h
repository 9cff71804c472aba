// Named-sound playback as the form's sound buttons use it.
#pragma once

#include <string>

namespace tarvo {

// Flags of a play request.
inline constexpr unsigned SND_ASYNC = 1;  // return at once, the sound plays on
inline constexpr unsigned SND_LOOP = 8;   // repeat until the next request

class SoundService {
public:
    virtual ~SoundService() = default;
    // Plays a sound by name: a built-in sound, else a WAVE file, else the
    // short default sound. The sound replaces the one playing; an empty name
    // only stops. Returns whether the named sound itself was found.
    virtual bool Play(const std::string& name, unsigned flags) = 0;
    // Whether there is an output device to play on at all.
    virtual bool HasOutputDevice() const { return true; }
};

// What WN and 3Khz say without a device to play on.
inline constexpr const char* kNoOutputDeviceText = "No audio output device was found.";

// Plays nothing: the service of a host without sound.
class SilentSoundService : public SoundService {
public:
    bool Play(const std::string&, unsigned) override { return false; }
    bool HasOutputDevice() const override { return false; }
};

}  // namespace tarvo
