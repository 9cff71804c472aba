// The PulseAudio server's sources read directly, beside Qt Multimedia: Qt's
// list of inputs leaves out the monitors of outputs, so a machine whose
// only source is such a monitor (a loopback measurement) would have no
// input at all. Blocks are read on a thread of their own and handed over on
// the thread that started the capture, while its events are processed.
#pragma once

#include "sound/BlockCapture.h"
#include "sound/Mci.h"
#include "sound/SoundInputs.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvo {

struct PulseSource {
    SoundInput input;
    bool monitor = false;
    int rate = 0;
    int channels = 0;
};

struct PulseSources {
    std::vector<PulseSource> sources;  // the default first
    std::string defaultName;           // the server's default source; may be empty
};

// Every source of the server the environment names (never one started for
// the purpose), monitors among them; nothing when no server answers within
// a few seconds.
std::optional<PulseSources> ListPulseSources();

// The source as a stream of float blocks at its own rate and channel count
// (one or two); its loss is reported once, with the server's reason.
std::unique_ptr<BlockCapture> OpenPulseInput(const PulseSource& source);

// The source as the recorder's capture: floats, mono, at the rate asked for.
std::unique_ptr<CaptureSource> OpenPulseRecording(const std::string& name);

}  // namespace tarvo
