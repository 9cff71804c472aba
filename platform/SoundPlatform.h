// Sound on the machine's audio server, for both hosts. This header carries
// no Qt: a host includes it and pays for Qt Multimedia only when it calls
// Create.
#pragma once

#include "sound/BlockCapture.h"
#include "sound/Mci.h"
#include "sound/SoundInputs.h"
#include "sound/SoundService.h"

#include <memory>
#include <string>
#include <vector>

namespace tarvo {

class SoundPlatform {
public:
    virtual ~SoundPlatform() = default;

    // The playback service (QAudioSink) and the recorder (QAudioSource).
    // Makes a QCoreApplication first when the program has none yet. A
    // relative sound name is looked for in the current folder, then beside
    // the program, then in the installed data folder (share/tarvo).
    static std::unique_ptr<SoundPlatform> Create();
    // The same, made only when first used: a program that never plays or
    // records never reaches the audio server. Needs a QCoreApplication by
    // then.
    static std::unique_ptr<SoundPlatform> CreateLazy();

    virtual SoundService& Playback() = 0;
    virtual MciDevice& Recorder() = 0;

    // Whether an audio output or input device is there (false without a
    // sound server).
    virtual bool HasOutput() const = 0;
    virtual bool HasInput() const = 0;

    // Lets the sound and the recording run for seconds (the events of the
    // audio streams are processed meanwhile).
    virtual void RunFor(double seconds) = 0;
    // Waits until a sound played once has ended; returns at once when a
    // looping sound or nothing plays.
    virtual void WaitForSound() = 0;
    // Whether a sound is playing now.
    virtual bool IsPlaying() const = 0;
    // The chosen input (the default until one is chosen) as a stream of
    // sample blocks, beside the recorder; null without that input. Blocks
    // arrive while events are processed.
    virtual std::unique_ptr<BlockCapture> OpenInputStream() { return nullptr; }

    // The sound inputs there are now, the system's default first, monitors
    // of outputs among them; empty without a sound server.
    virtual std::vector<SoundInput> Inputs() { return {}; }
    // Chooses the input that HasInput, the recorder and OpenInputStream
    // use, by its name in Inputs(); empty: the system's default. An input
    // that is not there (now) makes HasInput false.
    virtual void SelectInput(const std::string& name) { selected_ = name; }
    const std::string& SelectedInput() const { return selected_; }

private:
    std::string selected_;
};

}  // namespace tarvo
